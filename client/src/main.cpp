// qsclient: the Quillspeak console client.
#include "client_app.h"

int main()
{
    qs::client_app app;
    return app.run();
}
