#pragma once
// The monitor's terminal: colour detection, raw mode and the key poll.

#include <termios.h>

// The terminal's size in character cells; 0 x 0 when it is not known (not a
// terminal, or one that reports no size).
struct terminal_size {
    int rows = 0;
    int columns = 0;
    bool known() const { return rows > 0 && columns > 0; }
    bool operator==(const terminal_size&) const = default;
};

// The size of the terminal that standard output is (TIOCGWINSZ).
terminal_size read_terminal_size();

// What a key press comes to once its bytes are read.
enum class key_kind { none, byte, up, down, page_up, page_down, home, end };
struct key_press {
    key_kind kind = key_kind::none;
    int byte = 0; // for key_kind::byte
};

// Turns the bytes of standard input into key presses: the escape sequences
// that the arrow, Page Up/Down, Home and End keys send (in either cursor mode)
// become one press each, any other byte is a press of its own, and a byte
// that only begins or continues a sequence gives none. An escape followed by
// anything else is dropped, and that byte counts alone.
class key_reader {
public:
    key_press feed(unsigned char byte);

private:
    enum class state { plain, escape, bracket, letter_o };
    state state_ = state::plain;
    int parameter_ = 0;
};

// Colour unless standard output is not a terminal, or the terminal says it
// is "dumb" and COLORTERM does not overrule it (even set empty, it does).
bool color_wanted(bool output_is_terminal, const char* colorterm, const char* term);
// color_wanted for this process's standard output and environment.
bool check_color_support();

// Keys one at a time without echo while the monitor runs (setup_terminal,
// which saves the settings as they are), the saved settings put back by
// restore_terminal or, on any other way out, by the destructor. Ctrl+C still
// raises SIGINT. Standard input that is not a terminal is left alone.
class raw_terminal {
public:
    raw_terminal() { setup_terminal(); }
    raw_terminal(const raw_terminal&) = delete;
    raw_terminal& operator=(const raw_terminal&) = delete;
    ~raw_terminal() { restore_terminal(); }

    void setup_terminal();
    void restore_terminal();
    // After the process was stopped and continued without the monitor's
    // knowing (SIGSTOP), the shell may have put its own settings in: the
    // monitor's go back on.
    void reapply() const;

private:
    termios original_termios{};
    termios raw_termios{};
    bool saved = false;
};

// Returned by check_keyboard once standard input has ended (or failed): no
// key will come, and descriptor 0 is not worth watching any more.
constexpr int end_of_input = -2;

// A key (0..255) waiting on standard input, -1 when none is, or end_of_input.
// Never waits.
int check_keyboard();
