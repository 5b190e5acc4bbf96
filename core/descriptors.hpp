#pragma once
// Ownership of the operating system's descriptors and streams, so that every
// early return closes what was opened, and the standard descriptors a program
// may have been started without.

#include <cstdio>
#include <memory>
#include <utility>

#include <unistd.h>

// Descriptors 0, 1 and 2 opened on /dev/null where they were closed, so that
// no socket or file the program opens takes their place: a closed standard
// input then reads as empty, a closed output swallows what is written. The
// first thing every program does.
void ensure_standard_descriptors();

// Move-only owner of a descriptor.
class unique_fd {
public:
    explicit unique_fd(int fd = -1) : fd_(fd) { }
    unique_fd(unique_fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) { }
    unique_fd& operator=(unique_fd&& other) noexcept
    {
        if (this != &other)
            reset(std::exchange(other.fd_, -1));
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;
    ~unique_fd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using unique_file = std::unique_ptr<std::FILE, file_closer>;
