#pragma once
// rampgen's deciding parts: the universe list, the ramp, the usage text.

#include "options.hpp"
#include "udp.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

struct universe_list {
    std::array<std::uint16_t, 256> universes{}; // in the order first given
    std::size_t count = 0;
    bool all = false; // -a: every universe 0..255, the list unused
};

// Appends a universe not yet listed. A full list refuses any universe, even a
// listed one, with the "Too many universes" message: the caller then ends
// with status 1.
bool add_universe(universe_list& list, std::uint16_t universe);

// Channel i carries (offset + i) mod 256.
void fill_ramp(std::span<std::uint8_t> frame, std::uint8_t offset);

// The universe stamp (-s): channel 512 carries the universe's low byte and
// channel 511 the frame counter (mod 256), so that a monitor shows which
// universe a node or a cable really carries; above 255, channel 510 carries
// the universe's high byte.
void stamp_universe(std::span<std::uint8_t, 512> frame, std::uint16_t universe, unsigned long long frame_number);

// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("t:p:i:c:au:vsS");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);
