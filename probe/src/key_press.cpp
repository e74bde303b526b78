#include "key_press.h"

#include <cerrno>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace qs {

namespace {

void read_one_byte()
{
    char key;
    while (::read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
    }
}

} // namespace

void prompt_for_key(const char* prompt)
{
    termios saved{};
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &saved) != 0)
        return;
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw); // before the prompt, so no key is echoed
    std::cout << prompt << std::flush;
    read_one_byte();
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cout << std::endl;
}

} // namespace qs
