#include "show_csv.hpp"

#include "e131.hpp"
#include "frame_csv.hpp"
#include "numbers.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <optional>

namespace {

constexpr std::uint64_t longest_delay = 0xffffffff;

// As atoi reads, saturating at both ends of 0..4294967295.
std::uint32_t read_delay(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at])) != 0)
        ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    std::uint64_t value = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0; ++at)
        value = std::min(value * 10 + static_cast<std::uint64_t>(text[at] - '0'), longest_delay + 1);
    if (negative)
        return 0;
    return static_cast<std::uint32_t>(std::min(value, longest_delay));
}

// Decimal digits, with white space (a CR among it) around them allowed, from
// `lowest` to `highest`.
std::optional<std::uint16_t> read_universe(std::string_view text, unsigned lowest, unsigned highest)
{
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

bool write_show_row(std::FILE* file, std::uint32_t delay, std::uint16_t universe, std::span<const std::uint8_t> levels)
{
    const std::array<std::uint32_t, 2> leading = {delay, universe};
    return write_csv_row(file, leading, levels);
}

show_line parse_show_line(
    const char* line, show_row& row, std::span<std::uint8_t, channels_per_universe> levels, bool sacn)
{
    std::string_view rest(line);
    if (rest.empty() || rest.front() == '#' || rest.front() == '\n')
        return show_line::nothing;
    rest = rest.substr(0, rest.find('\n'));

    // An empty line of a file saved on Windows, or one of spaces, is no row.
    if (rest.find_first_not_of(" \t\r\v\f") == std::string_view::npos)
        return show_line::nothing;

    const std::optional<std::string_view> delay = next_csv_field(rest);
    if (!delay)
        return show_line::unreadable;
    row.delay = read_delay(*delay);
    // The universe is the very next field: an empty one ("0,,18,1") is no
    // universe, not the level after it.
    std::optional<std::uint16_t> universe;
    if (!rest.empty()) {
        rest.remove_prefix(1);
        const std::string_view universe_field = rest.substr(0, rest.find(','));
        rest.remove_prefix(universe_field.size());
        universe = sacn ? read_universe(universe_field, lowest_e131_universe, highest_e131_universe)
                        : read_universe(universe_field, 0, highest_port_address);
    }
    if (!universe)
        return show_line::bad_universe;
    row.universe = *universe;
    std::size_t count = 0;
    while (const std::optional<std::string_view> field = next_csv_field(rest)) {
        if (count == channels_per_universe)
            break;
        levels[count++] = static_cast<std::uint8_t>(std::clamp(saturating_atoi(*field), 0, 255));
    }
    row.count = count;
    return count > 0 ? show_line::frame : show_line::delay_only;
}

show_moments::show_moments() : moment_of_(universe_field_values, 0) { }

bool show_moments::begins_moment(std::uint32_t delay_ms, std::optional<std::uint16_t> universe)
{
    const bool begins = current_ == 0 || delay_ms >= moment_gap_ms || (universe && moment_of_[*universe] == current_);
    if (begins && ++current_ == 0) {
        // After four billion moments the numbers start again, none of them
        // left over from before.
        std::ranges::fill(moment_of_, 0);
        current_ = 1;
    }
    if (universe)
        moment_of_[*universe] = current_;
    return begins;
}
