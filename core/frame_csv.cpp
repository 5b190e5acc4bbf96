#include "frame_csv.hpp"

#include "numbers.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

bool write_csv_frame(std::FILE* file, std::uint16_t delay, std::span<const std::uint8_t> data)
{
    // The row is put together here and handed over in one write: a recorder
    // writes one per packet, and a call per level would cost more than the
    // rest of its work together.
    std::array<char, csv_row_capacity> row{};
    char* end = std::to_chars(row.data(), row.data() + row.size(), delay).ptr;
    for (const std::uint8_t level : data.first(std::min(data.size(), channels_per_universe))) {
        *end++ = ',';
        end = std::to_chars(end, row.data() + row.size(), level).ptr;
    }
    *end++ = '\n';
    const auto length = static_cast<std::size_t>(end - row.data());
    return std::fwrite(row.data(), 1, length, file) == length;
}

int parse_csv_line(const char* line, std::uint16_t& out_delay, std::span<std::uint8_t, channels_per_universe> out_data,
    std::size_t& out_count)
{
    std::string_view rest(line);
    // Only the first character decides: "  # note" is a row.
    if (rest.empty() || rest.front() == '#' || rest.front() == '\n')
        return 0;
    rest = rest.substr(0, rest.find('\n'));

    // Fields are split as strtok splits them: runs of commas separate like one,
    // and leading or trailing commas make no empty field.
    bool have_delay = false;
    std::size_t count = 0;
    while (!rest.empty()) {
        const std::size_t start = rest.find_first_not_of(',');
        if (start == std::string_view::npos)
            break;
        rest.remove_prefix(start);
        const std::string_view field = rest.substr(0, rest.find(','));
        rest.remove_prefix(field.size());
        const int value = saturating_atoi(field);
        if (!have_delay) {
            out_delay = static_cast<std::uint16_t>(value); // the low 16 bits: -1 is 65535
            have_delay = true;
        } else if (count < channels_per_universe) {
            out_data[count++] = static_cast<std::uint8_t>(std::clamp(value, 0, 255));
        }
    }
    if (!have_delay)
        return -1;
    out_count = count;
    return count > 0 ? 1 : 0;
}
