// qsclient: the Quillspeak console client.
#include <iostream>

#include "client_app.h"
#include "client_options.h"

int main(int argc, char** argv)
{
    qs::client_options options;
    try {
        options = qs::parse_client_options(argc, argv);
    } catch (const qs::usage_error& e) {
        std::cerr << "qsclient: " << e.what() << "\n" << qs::client_usage;
        return 2;
    }
    if (options.help || options.version) {
        std::cout << (options.help ? std::string(qs::client_usage) + "\n" + qs::client_help : qs::client_version);
        return 0;
    }
    qs::read_environment(options);
    qs::client_app app(options);
    return app.run();
}
