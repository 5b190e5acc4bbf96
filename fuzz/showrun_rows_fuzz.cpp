// Any file, read the way showrun reads it (whole lines, whatever their end
// or length, a byte order mark dropped): the readers must stay in bounds and
// leave the line as it was, and every frame they yield must become a packet
// of exactly its channels that parses back to the same levels.
#include "artdmx.hpp"
#include "file_lines.hpp"
#include "frame_csv.hpp"
#include "show_csv.hpp"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::string content(reinterpret_cast<const char*>(data), size);
    std::FILE* file = fmemopen(content.data(), content.size(), "r");
    if (file == nullptr)
        return 0;
    static std::array<char, longest_line + 1> line{};
    std::array<std::uint8_t, channels_per_universe> frame{};
    std::array<std::uint8_t, artdmx_max_size> packet{};
    bool first = true;
    while (read_file_line(file, line) == line_read::line) {
        if (std::exchange(first, false))
            drop_byte_order_mark(line);
        const std::string before(line.data());
        if (before.size() > longest_line)
            std::abort();
        show_row row;
        const show_line shown = parse_show_line(line.data(), row, frame);
        if (shown == show_line::frame && (row.count < 1 || row.count > channels_per_universe))
            std::abort();
        std::uint16_t delay = 0;
        std::size_t count = 0;
        const int parsed = parse_csv_line(line.data(), delay, frame, count);
        if (before != line.data() || parsed < -1 || parsed > 1)
            std::abort();
        if (parsed != 1)
            continue;
        if (count < 1 || count > channels_per_universe)
            std::abort();
        std::size_t length = 0;
        build_artdmx(packet, length, 1, 7, std::span(frame).first(count));
        std::array<std::uint8_t, channels_per_universe> levels{};
        std::uint16_t universe = 0;
        std::size_t levels_length = 0;
        if (length != artdmx_header_size + count
            || !parse_artdmx(std::span(packet).first(length), universe, levels, levels_length) || universe != 7
            || levels_length != count || std::memcmp(levels.data(), frame.data(), count) != 0)
            std::abort();
    }
    std::fclose(file);
    return 0;
}
