#pragma once
// framelog's deciding parts and its fixed texts: the change test, the row
// delay, the header, the status line and the reports.

#include "artdmx.hpp"
#include "node.hpp"
#include "settings.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// What the loop knows about the rows written so far.
struct recording_state {
    std::array<std::uint8_t, channels_per_universe> last_frame{};
    std::size_t last_length = 0;
    bool have_last = false;
    std::int64_t last_row_time = 0; // arrival of the last written frame, ms
    unsigned long long frames_recorded = 0;
    unsigned long long packets_received = 0;
    unsigned long long datagrams_lost = 0; // by the system, for want of room
    std::size_t universes_recorded = 0;    // with -U
};

// The monotonic clock in whole milliseconds.
std::int64_t get_time_ms();
// A first row, a new length or a differing level.
bool is_change(
    const recording_state& state, std::span<const std::uint8_t, channels_per_universe> data, std::size_t length);
// 0 for the first row; otherwise the gap since the last row in its low 16 bits,
// raised to the minimum delay.
std::uint16_t row_delay(const recording_state& state, std::int64_t now_ms, std::uint16_t min_delay);
// Makes the row just written the one later packets are compared with.
void remember_row(recording_state& state, std::span<const std::uint8_t, channels_per_universe> data, std::size_t length,
    std::int64_t now_ms);

// Writes and flushes the comment lines and the empty line. A failure is
// reported with perror and the failing call's name.
bool write_header(std::FILE* file, const recorder_settings& settings);
// Writes and flushes one row, reporting a failure like write_header.
bool write_row(std::FILE* file, std::uint16_t delay, std::span<const std::uint8_t> data);
// The same for a row of a show file (-U).
bool write_universe_row(
    std::FILE* file, std::uint32_t delay, std::uint16_t universe, std::span<const std::uint8_t> data);
// A row that reached the file only in part would play back as a wrong frame:
// cuts the file back to `complete_size` (its last complete row) where it can.
void drop_partial_row(std::FILE* file, long complete_size);

// With -N, the node's line follows the port's.
void print_startup_report(const recorder_settings& settings, const artnet_node& node);
void print_status(const recording_state& state, std::uint16_t universe, std::size_t length);
void print_shutdown_report(const recording_state& state);
