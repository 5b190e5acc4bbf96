// Any line: parse_show_line must stay within the line and the 512-byte frame
// and leave the line as it was; a row it reads, written again, must read back
// the same, and a universe it accepts is a 15-bit Port-Address, or under sACN
// one of 1..63999.
#include "e131.hpp"
#include "show_csv.hpp"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void check(const std::uint8_t* data, std::size_t size, bool sacn)
{
    const std::string line(reinterpret_cast<const char*>(data), size); // NUL-terminated
    std::array<std::uint8_t, channels_per_universe> levels{};
    show_row row;
    const show_line result = parse_show_line(line.c_str(), row, levels, sacn);
    if (std::memcmp(line.data(), data, size) != 0)
        std::abort();
    if (result != show_line::frame && result != show_line::delay_only)
        return;
    const bool universe_fits = sacn ? row.universe >= lowest_e131_universe && row.universe <= highest_e131_universe
                                    : row.universe <= highest_port_address;
    if (!universe_fits || row.count > channels_per_universe || (result == show_line::frame) != (row.count > 0))
        std::abort();

    std::array<char, 2100> text{}; // the longest row, 2065 bytes, and room to spare
    std::FILE* stream = ::fmemopen(text.data(), text.size() - 1, "w");
    if (stream == nullptr)
        return;
    std::setvbuf(stream, nullptr, _IONBF, 0);
    const bool written = write_show_row(stream, row.delay, row.universe, std::span(levels).first(row.count));
    std::fclose(stream);
    std::array<std::uint8_t, channels_per_universe> again{};
    show_row row_again;
    if (!written || parse_show_line(text.data(), row_again, again, sacn) != result || row_again.delay != row.delay
        || row_again.universe != row.universe || row_again.count != row.count
        || std::memcmp(again.data(), levels.data(), row.count) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    check(data, size, false);
    check(data, size, true);
    return 0;
}
