// qsclient: the Quillspeak console client.
#include <iostream>

#include "client_app.h"
#include "client_options.h"

int main(int argc, char** argv)
{
    const auto options = qs::parse_client_options(argc, argv);
    if (!options) {
        std::cerr << qs::client_usage;
        return 2;
    }
    qs::client_app app(*options);
    return app.run();
}
