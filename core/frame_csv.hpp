#pragma once
// The frame sequence CSV: one row per DMX frame, "delay_ms,level,level,...",
// with '#' comment lines and empty lines passed over by the reader. The
// writing of rows and the splitting of fields serve the show file too.

#include "artdmx.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string_view>

// The first comment line by which framelog's own recordings are known (their
// delays come before their rows): of Art-Net traffic, or of sACN traffic.
constexpr std::string_view artnet_recording_header = "# Art-Net recording created by framelog";
constexpr std::string_view sacn_recording_header = "# sACN recording created by framelog";

// The longest row: up to two leading numbers (a delay of up to ten digits and
// a universe of up to five), 512 three-digit levels with their commas, LF.
constexpr std::size_t csv_row_capacity = 10 + 1 + 5 + channels_per_universe * 4 + 1;

// One row: the delay, then ",level" per byte (at most 512), then LF. Does not
// flush.
// Returns false when a write to `file` failed.
bool write_csv_frame(std::FILE* file, std::uint16_t delay, std::span<const std::uint8_t> data);

// A row of the leading numbers (one or two) and the levels, all separated by
// commas, ending in LF, handed to the stream in one write.
bool write_csv_row(std::FILE* file, std::span<const std::uint32_t> leading, std::span<const std::uint8_t> levels);

// The next field of a row, split as strtok splits: runs of commas separate
// like one, and leading or trailing commas make no empty field. Nothing once
// the row is used up.
std::optional<std::string_view> next_csv_field(std::string_view& rest);

// Reads one line as a frame. Returns 1 for a frame (1..512 channels), 0 for a
// line with nothing to play (comment, empty, or a delay without channels),
// -1 for a line without any field. The line is not modified; bytes of
// `out_data` beyond `out_count` keep what they held.
int parse_csv_line(const char* line, std::uint16_t& out_delay, std::span<std::uint8_t, channels_per_universe> out_data,
    std::size_t& out_count);
