#include "terminal.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/select.h>
#include <unistd.h>

bool color_wanted(bool output_is_terminal, const char* colorterm, const char* term)
{
    return output_is_terminal && (colorterm != nullptr || term == nullptr || std::strcmp(term, "dumb") != 0);
}

bool check_color_support()
{
    return color_wanted(::isatty(STDOUT_FILENO) == 1, std::getenv("COLORTERM"), std::getenv("TERM"));
}

void raw_terminal::setup_terminal()
{
    saved = ::tcgetattr(STDIN_FILENO, &original_termios) == 0;
    if (!saved)
        return;
    raw_termios = original_termios;
    raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw_termios.c_cc[VMIN] = 0;
    raw_termios.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw_termios);
}

void raw_terminal::reapply() const
{
    if (saved)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &raw_termios);
}

// Only settings that were read are written back: zeros would wreck the
// terminal.
void raw_terminal::restore_terminal()
{
    if (saved)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &original_termios);
}

int check_keyboard()
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    timeval no_wait{0, 0};
    if (::select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &no_wait) <= 0 || !FD_ISSET(STDIN_FILENO, &readable))
        return -1;
    // One byte straight from the descriptor: a stream's buffer would hide the
    // rest of a burst (a paste, a pipe) from the next select.
    unsigned char key = 0;
    const ssize_t got = ::read(STDIN_FILENO, &key, 1);
    if (got == 1)
        return key;
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return -1;
    return end_of_input;
}
