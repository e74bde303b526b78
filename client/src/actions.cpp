// The six actions of the main menu.
#include <cstring>

#include "client_app.h"

namespace qs {

namespace {

constexpr std::size_t name_chars = 29;      // 30-byte buffers
constexpr std::size_t password_chars = 15;  // 16-byte buffers
constexpr std::size_t message_chars = 29;
constexpr std::size_t line_chars = 255;     // 256-byte buffers
constexpr std::size_t command_chars = 255;

} // namespace

std::string client_app::exec(const std::string& command, std::size_t size)
{
    std::string result(size, '\0');
    kel_.exec(command.c_str(), result.data(), static_cast<int>(size));
    result[size - 1] = '\0';
    result.resize(std::strlen(result.c_str()));
    return result;
}

void client_app::log_in()
{
    banner();
    con_.print("Log in, please enter your username and password.\n\n");
    con_.print("Username: ");
    const std::string user = con_.read_line(name_chars);
    con_.print("Password: ");
    const std::string password = con_.read_line(password_chars);
    con_.print("Logging in...");
    const std::string result = exec("login " + user + " " + password);
    con_.print(result + "\n");
    if (result == "Ok.") {
        con_.print("Starting daemon-proc...");
        start_receiver();
        con_.print("Ok.\n");
    }
    pause();
}

void client_app::log_out()
{
    banner();
    for (;;) {
        con_.print("Log out\nAre you sure? (y/n)");
        const char key = con_.read_key();
        con_.print("\n");
        if (key == 'y' || key == 'Y') {
            con_.print("Logging out...");
            con_.print(exec("logout") + "\n");
            break;
        }
        if (key == 'n' || key == 'N') {
            con_.print("You have canceled this action\n");
            break;
        }
    }
    pause();
}

void client_app::new_account()
{
    banner();
    con_.print("Create an quillspeak account, please enter the username and password\n");
    con_.print("Username: ");
    const std::string user = con_.read_line(name_chars);
    std::string password;
    for (;;) {
        con_.print("Password: ");
        password = con_.read_line(password_chars);
        con_.print("Re-enter password: ");
        if (con_.read_line(password_chars) == password)
            break;
        con_.print("Wrong password!\n");
    }
    con_.print("Creating an account...");
    con_.print(exec("newuser " + user + " " + password) + "\n");
    pause();
}

void client_app::talk()
{
    banner();
    con_.print("Talk mode.\n\n");
    talk_mode_ = true;
    con_.print("Who you want to talk with? ");
    partner_ = con_.read_line(line_chars);
    for (;;) {
        con_.print("msg: ");
        const std::string message = con_.read_line(line_chars);
        if (message == "/quit")
            break;
        const std::string command = "sendmessage " + partner_ + " " + message;
        if (command.size() > command_chars) {
            con_.print("The message is too long to send; nothing was sent.\n");
            continue;
        }
        con_.print("Sending...");
        con_.print(exec(command) + "\n");
    }
    talk_mode_ = false;
    pause();
}

void client_app::send_one()
{
    banner();
    con_.print("Send message, please enter his/her username and the message.\n\n");
    con_.print("His/her username: ");
    const std::string user = con_.read_line(name_chars);
    con_.print("Message: ");
    const std::string message = con_.read_line(message_chars);
    con_.print("Sending...");
    con_.print(exec("sendmessage " + user + " " + message) + "\n");
    pause();
}

void client_app::command_mode()
{
    banner();
    con_.print("Command-line mode,\n\"/quit\" to return to the main menu.\n\"/clear\" to clear the screen.\n\n");
    for (;;) {
        con_.print("command: ");
        const std::string line = con_.read_line(line_chars);
        if (line == "/quit")
            return;
        if (line == "/clear")
            banner();
        else
            con_.print(exec(line) + "\n");
    }
}

} // namespace qs
