#pragma once
// framelog's recorder: which frames become rows, with which delays, and the
// header, the rows, the status line and the reports. It takes "a frame of
// universe U came at time T" from its caller, whatever brought the frame.
// The last row written is kept per slot. With -U every universe has a slot
// of its own and each row names its universe (a show file), so a rig of many
// universes gives one row per changed frame of each; the plain file is the
// one-slot case, every frame recorded compared with the one row before and
// written without its universe. Either way the rows share one timeline, each
// delay the time since the row before.

#include "receiver.hpp"
#include "settings.hpp"
#include "universe_frames.hpp"

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

// The closing report's sources, each with the universes, packets and
// sequence gaps it brought: the first 16 seen in full, the rest counted.
constexpr std::size_t most_reported_sources = 16;

struct reported_source {
    packet_source from;                      // with the last packet's address and priority
    std::array<char, e131_name_size> name{}; // sACN: as its first packet named it, fit to show
    std::bitset<universe_field_values> universes;
    unsigned long long packets = 0;
    unsigned long long gaps = 0;
};

struct source_report {
    std::vector<reported_source> sources; // room made at the start
    std::size_t last = 0;                 // the one the last packet came from
    fingerprint_set more{most_sources_beyond};
};

// What the reports count.
struct recording_counts {
    unsigned long long frames_recorded = 0;
    unsigned long long packets_received = 0; // of the universes recorded
    unsigned long long packets_skipped = 0;  // with -U: not of a Port-Address
    unsigned long long datagrams_lost = 0;   // by the system, for want of room
    std::size_t universes_recorded = 0;      // with -U
    bool sacn = false;                       // -E: the sources are told too
    std::size_t sources_seen = 0;            // sACN CIDs
    unsigned long long sources_ignored = 0;  // sACN sources beyond the bound of a universe
    source_report senders;
};

struct recorder {
    bool per_universe = false; // -U
    bool sacn = false;         // -E: universes 1..63999 all fit a show file
    bool all = true;
    std::bitset<universe_field_values> wanted; // when not all: the universes recorded
    std::uint16_t min_delay = 0;
    universe_frames last; // the last row written, per slot
    bool have_row = false;
    std::int64_t last_row_time = 0; // the arrival of the last row written, ms
    recording_counts counts;
};

void start_recorder(recorder& rec, const recorder_settings& settings);

enum class frame_taken {
    passed_over,  // not of a universe recorded, or skipped
    unchanged,    // counted, no row
    written,      // counted, and written as a row
    write_failed, // reported; the file may end in part of the row
};

// Takes a frame of `universe` that came at `now_ms` (the monotonic clock):
// a change from the last row of its slot (the first frame of the slot, a new
// length or a differing level) is written as a row and flushed. The delay is
// 0 for the first row, otherwise the time since the row before: whole with
// -U, else in its low 16 bits and raised to the minimum delay. With -U, an
// Art-Net universe beyond the Port-Addresses is skipped and counted: a show
// file holds no row a player would refuse. A frame that no packet brought
// (sACN sources merged anew after one fell silent) is not counted as one.
frame_taken take_frame(recorder& rec, std::FILE* file, std::uint16_t universe, std::span<const std::uint8_t> levels,
    std::int64_t now_ms, bool from_packet = true);

// Counts a packet that the recorder took (a frame not passed over) for the
// report's line of the source that sent it: `raw_name` is the sACN name as
// the packet had it, `gaps` the sequence gaps since the source's last one.
void note_sender(source_report& report, const packet_source& from, std::string_view raw_name, std::uint16_t universe,
    unsigned long long gaps);

// The monotonic clock in whole milliseconds.
std::int64_t get_time_ms();

// Writes and flushes the comment lines and the empty line. A failure is
// reported with perror and the failing call's name, and so is a failed row.
bool write_header(std::FILE* file, const recorder_settings& settings);
// A row that reached the file only in part would play back as a wrong frame:
// cuts the file back to `complete_size` (its last complete row) where it can.
void drop_partial_row(std::FILE* file, long complete_size);

// With -N, the node's line follows the port's; with -E, the sACN line.
void print_startup_report(const recorder_settings& settings, const dmx_receiver& receiver);
void print_status(const recording_counts& counts, std::uint16_t universe, std::size_t length);
// Ends with a line per source, the first 16 seen sorted by address, then
// "and N more".
void print_shutdown_report(const recording_counts& counts);
