// Any datagram: parse_artdmx must never read or write out of bounds, and an
// accepted one must rebuild to the same header fields and data.
#include "artdmx.hpp"

#include <array>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::array<std::uint8_t, channels_per_universe> levels{};
    std::uint16_t universe = 0;
    std::size_t length = 0;
    if (!parse_artdmx(std::span(data, size), universe, levels, length))
        return 0;
    std::array<std::uint8_t, artdmx_max_size> rebuilt{};
    std::size_t rebuilt_length = 0;
    build_artdmx(rebuilt, rebuilt_length, data[12], universe, std::span(levels).first(length));
    if (rebuilt_length > size || std::memcmp(rebuilt.data(), data, 10) != 0
        || std::memcmp(rebuilt.data() + 12, data + 12, 1) != 0
        || std::memcmp(rebuilt.data() + 14, data + 14, rebuilt_length - 14) != 0)
        std::abort();
    return 0;
}
