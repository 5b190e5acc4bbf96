// Any line and any capacity 1..512: parse_values must stay inside the
// capacity, store something exactly when the line holds a byte that is
// neither white space nor a comma, and never read past the terminating zero.
#include "lines.hpp"

#include <array>
#include <cctype>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t capacity = 1 + ((data[0] << 8 | data[1]) % 512);
    // An exactly sized copy, so ASan sees a read past the zero.
    const std::string line(reinterpret_cast<const char*>(data) + 2, size - 2);
    static std::FILE* const null_stream = std::fopen("/dev/null", "w");
    std::array<std::uint8_t, 513> values{};
    std::size_t count = 0;
    const int result = parse_values(line.c_str(), std::span(values).first(capacity), count, true, null_stream);

    bool has_value_byte = false;
    for (const char c : line) {
        if (c == '\0')
            break;
        has_value_byte = has_value_byte || (c != ',' && !std::isspace(static_cast<unsigned char>(c)));
    }
    if (count > capacity || values[capacity] != 0 || (result == 0) != (count > 0) || has_value_byte != (count > 0))
        std::abort();
    return 0;
}
