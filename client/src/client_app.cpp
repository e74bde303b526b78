// Start-up, the main menu and shutdown.
#include "client_app.h"

#include <cstdlib>
#include <map>

#include "server_connection.h"
#include "qs/version.h"

namespace qs {

namespace {

const char* const menu_lines[] = {
    "+---------------------------------------+", "| l    --log in.                        |",
    "| o    --log out.                       |", "| n    --create a quillspeak account.   |",
    "| t    --talk with your friend.         |", "| s    --send a message to your frined  |",
    "| c    --enter command-line mode.       |", "| q    --quit.                          |",
    "+---------------------------------------+",
};

constexpr std::size_t prompt_line = 255;

} // namespace

void client_app::banner()
{
    con_.clear_screen();
    con_.print("Quillspeak console client qsclient\nVersion " QS_VERSION
               "\nMessages to you appear as they arrive.\n\n");
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
        return start_up();
    } catch (const input_ended&) {
        shut_down();
        return 0;
    } catch (const connection_lost&) {
        con_.print_apart("Connection to the server lost.");
        shut_down();
        return 1;
    } catch (...) {
        con_.print("Failed\n");
        shut_down();
        pause_before_leaving();
        return 1;
    }
}

void client_app::pause_before_leaving()
{
    try {
        pause();
    } catch (...) { // input ended, or the receiver saw the connection go
    }
}

int client_app::start_up()
{
    banner();
    con_.print("Initializing socket envieronment...");
    con_.print("Ok.\n");
    con_.print("Creating socket...");
    kel_.create(0);
    con_.print("Ok.\n");
    const server_address server = choose_server();
    con_.print("Connecting to " + server.host + ":" + std::to_string(server.port) + "...");
    const auto failure = server.valid ? connect_to_server(kel_, server.host, server.port, options_)
                                      : "The port must be a number from 1 to 65535.";
    if (failure) {
        con_.print("Failed.\n" + *failure + "\n");
        shut_down();
        pause_before_leaving();
        return 1;
    }
    con_.print("Ok.\n");
    con_.watch_hangup(kel_.handle());
    main_menu();
    shut_down();
    return 0;
}

// HOST [PORT] from the command line, else what is typed at the two prompts.
client_app::server_address client_app::choose_server()
{
    if (options_.host)
        return {options_.host->empty() ? "localhost" : *options_.host, options_.port.value_or(options_.default_port)};
    con_.print("Enber Server's IP Address: (default localhost) ");
    server_address server{con_.read_line(prompt_line)};
    if (server.host.empty())
        server.host = "localhost";
    con_.print("Enter Server's Port: (default " + std::to_string(options_.default_port) + ") ");
    const std::string port_text = con_.read_line(prompt_line);
    const auto port = port_text.empty() ? options_.default_port : parse_port(port_text);
    server.valid = port.has_value();
    server.port = port.value_or(std::atoi(port_text.c_str()));
    return server;
}

void client_app::main_menu()
{
    const std::map<char, void (client_app::*)()> actions = {
        {'l', &client_app::log_in}, {'o', &client_app::log_out},  {'n', &client_app::new_account},
        {'t', &client_app::talk},   {'s', &client_app::send_one}, {'c', &client_app::command_mode},
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
    con_.watch_hangup(-1);
    kel_.close();
    if (receiver_.joinable())
        receiver_.join();
}

} // namespace qs
