// The six actions of the main menu.
#include <cstring>

#include "client_app.h"
#include "command_quoting.h"
#include "message_request.h"

namespace qs {

namespace {

constexpr std::size_t name_chars = 29;     // 30-byte buffers
constexpr std::size_t password_chars = 15; // 16-byte buffers
constexpr std::size_t line_chars = 255;    // 256-byte buffers
constexpr std::size_t command_chars = 255;

} // namespace

std::string client_app::exec(const std::string& command, std::size_t size)
{
    std::string result(size, '\0');
    try {
        kel_.exec(command.c_str(), result.data(), static_cast<int>(size));
    } catch (const exception&) { // the connection ended
        throw connection_lost();
    }
    result[size - 1] = '\0';
    result.resize(std::strlen(result.c_str()));
    return result;
}

// The command, or a note that what was typed cannot be sent.
std::string client_app::exec_quoted(const std::vector<std::string>& args)
{
    const auto command = quoted_command(args);
    return command ? exec(*command) : "The username or password cannot be sent as typed.";
}

void client_app::log_in()
{
    banner();
    con_.print("Log in, please enter your username and password.\n\n");
    con_.print("Username: ");
    const std::string user = con_.read_line(name_chars);
    con_.print("Password: ");
    const std::string password = con_.read_secret(password_chars);
    con_.print("Logging in...");
    const std::string result = exec_quoted({"login", user, password});
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
        password = con_.read_secret(password_chars);
        con_.print("Re-enter password: ");
        if (con_.read_secret(password_chars) == password)
            break;
        con_.print("Wrong password!\n");
    }
    con_.print("Creating an account...");
    con_.print(exec_quoted({"newuser", user, password}) + "\n");
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
        send_message(partner_, message);
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
    send_message(user, con_.read_line(line_chars));
    pause();
}

// The whole line as typed, or a note why it cannot go.
void client_app::send_message(const std::string& user, const std::string& text)
{
    const message_request request = make_message_request(user, text, command_chars);
    if (request.command.empty()) {
        con_.print(request.refusal + "\n");
        return;
    }
    con_.print("Sending...");
    con_.print(exec(request.command) + "\n");
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
