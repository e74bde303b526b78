#include "key_press.h"

#include <termios.h>
#include <unistd.h>

namespace qs {

void wait_for_key()
{
    char key;
    termios saved{};
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &saved) != 0) {
        [[maybe_unused]] ssize_t n = ::read(STDIN_FILENO, &key, 1);
        return;
    }
    termios raw = saved;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    [[maybe_unused]] ssize_t n = ::read(STDIN_FILENO, &key, 1);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

} // namespace qs
