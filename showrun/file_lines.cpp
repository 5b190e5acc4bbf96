#include "file_lines.hpp"

#include <cassert>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <stdio.h>

namespace {

// The next byte, waited for while a stream that does not block has none yet;
// EOF with `given_up` when the wait gave up.
int next_byte(std::FILE* file, const read_wait& waiting, bool& given_up)
{
    // getc_unlocked: the stream is this thread's alone, and a recording of
    // a long show is tens of megabytes read a byte at a time.
    for (;;) {
        const int c = getc_unlocked(file);
        if (c != EOF || waiting.wait == nullptr || std::ferror(file) == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return c;
        if (!waiting.wait(waiting.context)) {
            given_up = true;
            return EOF;
        }
        std::clearerr(file);
    }
}

} // namespace

line_read read_file_line(std::FILE* file, std::span<char> line, const read_wait& waiting)
{
    assert(line.size() > longest_line);
    std::size_t length = 0;
    bool read_any = false;
    bool given_up = false;
    for (;;) {
        const int c = next_byte(file, waiting, given_up);
        if (c == EOF)
            break;
        read_any = true;
        if (c == '\n')
            break;
        if (c == '\r') {
            const int next = next_byte(file, waiting, given_up);
            if (next == '\n' && length < longest_line)
                line[length++] = '\r';
            else if (next != EOF && next != '\n')
                ungetc(next, file);
            break;
        }
        if (length < longest_line)
            line[length++] = static_cast<char>(c);
    }
    line[length] = '\0';
    if (given_up)
        return line_read::failed;
    if (read_any)
        return line_read::line;
    return std::ferror(file) != 0 ? line_read::failed : line_read::end_of_file;
}

void drop_byte_order_mark(std::span<char> line)
{
    constexpr std::string_view mark = "\xef\xbb\xbf";
    if (std::string_view(line.data()).starts_with(mark))
        std::memmove(line.data(), line.data() + mark.size(), std::strlen(line.data()) - mark.size() + 1);
}
