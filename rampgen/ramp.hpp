#pragma once
// rampgen's deciding parts: the ramp, the universe stamp, the usage text.

#include "options.hpp"
#include "udp.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>

// -a sends to every universe of Net 0 (Sub-Nets 0..15): universes 0..255;
// under sACN, whose universes begin at 1, to 1..256.
constexpr int highest_universe_of_all = 255;
constexpr int first_universe_of_all(bool sacn)
{
    return sacn ? 1 : 0;
}

// Channel i carries (offset + i) mod 256.
void fill_ramp(std::span<std::uint8_t> frame, std::uint8_t offset);

// The universe stamp (-s): channel 512 carries the universe's low byte and
// channel 511 the frame counter (mod 256), so that a monitor shows which
// universe a node or a cable really carries; above 255, channel 510 carries
// the universe's high byte.
void stamp_universe(std::span<std::uint8_t, 512> frame, std::uint16_t universe, unsigned long long frame_number);

// What getopt reads.
constexpr const char* option_letters = POSIX_OPTIONS("t:p:i:c:au:vsSEP:I:");

// The usage text on `out`; the caller chooses the exit status.
void usage(const char* program, std::FILE* out = stderr);
