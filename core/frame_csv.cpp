#include "frame_csv.hpp"

#include "numbers.hpp"

#include <algorithm>
#include <array>
#include <charconv>

bool write_csv_frame(std::FILE* file, std::uint16_t delay, std::span<const std::uint8_t> data)
{
    const std::array<std::uint32_t, 1> leading = {delay};
    return write_csv_row(file, leading, data);
}

bool write_csv_row(std::FILE* file, std::span<const std::uint32_t> leading, std::span<const std::uint8_t> levels)
{
    // The row is put together here and handed over in one write: a recorder
    // writes one per packet, and a call per level would cost more than the
    // rest of its work together.
    std::array<char, csv_row_capacity> row{};
    char* const last = row.data() + row.size();
    char* end = row.data();
    for (const std::uint32_t number : leading.first(std::min<std::size_t>(leading.size(), 2))) {
        if (end != row.data())
            *end++ = ',';
        end = std::to_chars(end, last, number).ptr;
    }
    for (const std::uint8_t level : levels.first(std::min(levels.size(), channels_per_universe))) {
        *end++ = ',';
        end = std::to_chars(end, last, level).ptr;
    }
    *end++ = '\n';
    const auto length = static_cast<std::size_t>(end - row.data());
    return std::fwrite(row.data(), 1, length, file) == length;
}

std::optional<std::string_view> next_csv_field(std::string_view& rest)
{
    const std::size_t start = rest.find_first_not_of(',');
    if (start == std::string_view::npos) {
        rest = {};
        return std::nullopt;
    }
    rest.remove_prefix(start);
    const std::string_view field = rest.substr(0, rest.find(','));
    rest.remove_prefix(field.size());
    return field;
}

int parse_csv_line(const char* line, std::uint16_t& out_delay, std::span<std::uint8_t, channels_per_universe> out_data,
    std::size_t& out_count)
{
    std::string_view rest(line);
    // Only the first character decides: "  # note" is a row.
    if (rest.empty() || rest.front() == '#' || rest.front() == '\n')
        return 0;
    rest = rest.substr(0, rest.find('\n'));

    const std::optional<std::string_view> delay = next_csv_field(rest);
    if (!delay)
        return -1;
    out_delay = static_cast<std::uint16_t>(saturating_atoi(*delay)); // the low 16 bits: -1 is 65535
    std::size_t count = 0;
    while (const std::optional<std::string_view> field = next_csv_field(rest)) {
        if (count == channels_per_universe)
            break;
        out_data[count++] = static_cast<std::uint8_t>(std::clamp(saturating_atoi(*field), 0, 255));
    }
    out_count = count;
    return count > 0 ? 1 : 0;
}
