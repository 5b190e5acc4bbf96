// Any line: parse_csv_line must stay within the line and the 512-byte frame,
// leave the line as it was, and a frame it reads must survive being written
// and read again.
#include "frame_csv.hpp"

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size); // NUL-terminated
    std::array<std::uint8_t, channels_per_universe> levels{};
    std::uint16_t delay = 0;
    std::size_t count = 0;
    const int result = parse_csv_line(line.c_str(), delay, levels, count);
    if (result < -1 || result > 1 || std::memcmp(line.data(), data, size) != 0)
        std::abort();
    if (result != 1)
        return 0;
    if (count < 1 || count > channels_per_universe)
        std::abort();

    // The longest row is 2054 bytes; one more keeps the NUL.
    std::array<char, 2100> row{};
    std::FILE* stream = ::fmemopen(row.data(), row.size() - 1, "w");
    if (stream == nullptr)
        return 0;
    std::setvbuf(stream, nullptr, _IONBF, 0);
    const bool written = write_csv_frame(stream, delay, std::span(levels).first(count));
    std::fclose(stream);
    std::array<std::uint8_t, channels_per_universe> again{};
    std::uint16_t delay_again = 0;
    std::size_t count_again = 0;
    if (!written || parse_csv_line(row.data(), delay_again, again, count_again) != 1 || delay_again != delay
        || count_again != count || std::memcmp(again.data(), levels.data(), count) != 0)
        std::abort();
    return 0;
}
