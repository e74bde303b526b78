// Start-up, the main menu and shutdown.
#include "client_app.h"

#include <cstdlib>
#include <map>

namespace qs {

namespace {

const char* const menu_lines[] = {
    "+---------------------------------------+",
    "| l    --log in.                        |",
    "| o    --log out.                       |",
    "| n    --create a quillspeak account.   |",
    "| t    --talk with your friend.         |",
    "| s    --send a message to your frined  |",
    "| c    --enter command-line mode.       |",
    "| q    --quit.                          |",
    "+---------------------------------------+",
};

constexpr std::size_t prompt_line = 255;
constexpr int default_port = 7000;

} // namespace

void client_app::banner()
{
    con_.clear_screen();
    con_.print("Quillspeak console client qsclient\nVersion 0.1\nMessages to you appear as they arrive.\n\n");
}

void client_app::pause()
{
    con_.print("Press any key to continue...");
    con_.read_key();
    con_.print("\n");
}

int client_app::run()
{
    try {
        start_up();
    } catch (const input_ended&) {
        shut_down();
        return 0;
    } catch (...) {
        con_.print("Failed\n");
        shut_down();
        try {
            pause();
        } catch (const input_ended&) {
        }
        return 0;
    }
    return 0;
}

void client_app::start_up()
{
    banner();
    con_.print("Initializing socket envieronment...");
    con_.print("Ok.\n");
    con_.print("Creating socket...");
    kel_.create(0);
    con_.print("Ok.\n");
    con_.print("Enber Server's IP Address: (default localhost) ");
    std::string host = con_.read_line(prompt_line);
    if (host.empty())
        host = "localhost";
    con_.print("Enter Server's Port: (default 7000) ");
    const std::string port_text = con_.read_line(prompt_line);
    const int port = port_text.empty() ? default_port : std::atoi(port_text.c_str());
    con_.print("Connecting to " + host + ":" + std::to_string(port) + "...");
    try {
        connect(host, port);
    } catch (const exception&) {
        con_.print("Failed.\n");
        shut_down();
        pause();
        return;
    }
    con_.print("Ok.\n");
    main_menu();
    shut_down();
}

// Plain TCP, or TLS checked against the CA file or the system's store.
void client_app::connect(const std::string& host, int port)
{
    if (!options_.tls)
        kel_.connect(host.c_str(), port);
    else
        kel_.connect_tls(host.c_str(), port, options_.ca_file.empty() ? nullptr : options_.ca_file.c_str());
}

void client_app::main_menu()
{
    const std::map<char, void (client_app::*)()> actions = {
        {'l', &client_app::log_in},     {'o', &client_app::log_out}, {'n', &client_app::new_account},
        {'t', &client_app::talk},       {'s', &client_app::send_one}, {'c', &client_app::command_mode},
    };
    for (;;) {
        banner();
        con_.print("Main menu, press key to enter the sub menu.\n\n");
        for (const char* line : menu_lines)
            con_.print(std::string(line) + "\n");
        const char key = con_.read_key();
        if (key == 'q')
            return;
        auto action = actions.find(key);
        if (action != actions.end()) {
            (this->*action->second)();
        } else {
            con_.print("\nUnknown command.\n");
            pause();
        }
    }
}

// Closing the socket ends the receiver's exec; it is joined before anything goes.
void client_app::shut_down()
{
    {
        std::lock_guard guard(receiver_lock_);
        quitting_ = true;
    }
    receiver_wanted_.notify_one();
    con_.release();
    kel_.close();
    if (receiver_.joinable())
        receiver_.join();
}

} // namespace qs
