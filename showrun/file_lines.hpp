#pragma once
// Reading a frame sequence file line by line, whatever the length of its
// lines and whichever line ends its editor wrote.

#include <cstddef>
#include <cstdio>
#include <span>

// The most of one line that is kept: far beyond the longest row a writer
// makes (about 2 kB), enough for rows padded with spaces or leading zeros,
// and a bound on what a line without an end can cost.
constexpr std::size_t longest_line = std::size_t{64} * 1024;

enum class line_read { line, end_of_file, failed };

// What a reader does when a stream whose descriptor does not block (a pipe
// read while streams are kept alive) has nothing more yet: wait(context)
// returns true once there may be more, false to give the line up (a stop
// request, a failed send).
struct read_wait {
    bool (*wait)(void* context) = nullptr;
    void* context = nullptr;
};

// Reads the next line into `line` (at least longest_line + 1 bytes) as a
// NUL-terminated text. A line ends at LF, at CR LF (the CR is kept, as the
// row reader expects it there) or at a lone CR (files from old Mac editors);
// the last line may have no end. What goes beyond longest_line is passed
// over. end_of_file and failed come only when no byte of a line was read,
// or failed when `waiting` gave the line up; failed leaves the stream's error
// indicator and errno set.
line_read read_file_line(std::FILE* file, std::span<char> line, const read_wait& waiting = {});

// Drops the UTF-8 byte order mark that some editors put before the text of a
// file from `line`, the file's first line as read_file_line left it.
void drop_byte_order_mark(std::span<char> line);
