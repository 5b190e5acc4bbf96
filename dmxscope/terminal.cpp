#include "terminal.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/ioctl.h>
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

terminal_size read_terminal_size()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return {};
    return {size.ws_row, size.ws_col};
}

key_press key_reader::feed(unsigned char byte)
{
    constexpr unsigned char escape = 0x1b;
    const state was = state_;
    state_ = state::plain;
    switch (was) {
    case state::plain:
        if (byte == escape) {
            state_ = state::escape;
            return {};
        }
        return {key_kind::byte, byte};
    case state::escape:
        if (byte == '[' || byte == 'O') {
            state_ = byte == '[' ? state::bracket : state::letter_o;
            parameter_ = 0;
            return {};
        }
        return {key_kind::byte, byte};
    case state::bracket:
        if (byte >= '0' && byte <= '9') {
            parameter_ = std::min(parameter_ * 10 + (byte - '0'), 1000);
            state_ = state::bracket;
            return {};
        }
        if (byte == '~') {
            switch (parameter_) {
            case 1:
            case 7:
                return {key_kind::home};
            case 4:
            case 8:
                return {key_kind::end};
            case 5:
                return {key_kind::page_up};
            case 6:
                return {key_kind::page_down};
            default:
                return {};
            }
        }
        [[fallthrough]];
    case state::letter_o:
        switch (byte) {
        case 'A':
            return {key_kind::up};
        case 'B':
            return {key_kind::down};
        case 'H':
            return {key_kind::home};
        case 'F':
            return {key_kind::end};
        default:
            return {}; // another key's sequence (right, left, F1...): ignored
        }
    }
    return {};
}
