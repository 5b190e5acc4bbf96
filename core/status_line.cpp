#include "status_line.hpp"

#include <cstdio>

namespace {

bool status_line_open = false;

} // namespace

void status_line_shown()
{
    status_line_open = true;
}

void end_status_line()
{
    if (status_line_open)
        std::fputc('\n', stderr);
    status_line_open = false;
}
