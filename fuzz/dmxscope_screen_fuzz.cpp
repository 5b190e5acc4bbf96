// Any datagram as dmxscope takes it: parsed, then drawn in both modes and
// written as clipboard text. The screens must stay within their geometry (no
// line wider than a bar line) and the text must have one line per channel.
#include "artdmx.hpp"
#include "render.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <span>

namespace {

std::FILE* scratch()
{
    static std::FILE* file = std::tmpfile();
    std::rewind(file);
    return file;
}

// Longest line and the number of newlines of what was written since rewind.
void measure(std::FILE* file, std::size_t& widest, std::size_t& lines)
{
    const long size = std::ftell(file);
    std::rewind(file);
    widest = lines = 0;
    std::size_t width = 0;
    for (long i = 0; i < size; ++i) {
        if (std::fgetc(file) == '\n') {
            ++lines;
            width = 0;
        } else {
            widest = std::max(widest, ++width);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    monitor_state state;
    std::uint16_t universe = 0;
    std::size_t length = 0;
    if (!parse_artdmx(std::span(data, size), universe, state.dmx_data, length))
        return 0;
    state.use_color = (data[12] & 1) != 0; // the sequence byte picks colour
    const std::size_t rows = (length + 15) / 16;
    std::size_t widest = 0, lines = 0;
    for (const int mode : {0, 1}) {
        state.display_mode = mode;
        std::FILE* file = scratch();
        display_dmx(file, state, universe, state.dmx_data, length);
        measure(file, widest, lines);
        // Colour adds 5 bytes before and 4 after a row line; the clear
        // sequence stands before the title.
        if (lines != 7 + rows * (mode == 0 ? 1 : 2) || widest > 246 + 9)
            std::abort();
    }
    std::FILE* file = scratch();
    if (!write_clipboard_csv(file, universe, state.dmx_data, length))
        std::abort();
    measure(file, widest, lines);
    if (lines != length + 1)
        std::abort();
    return 0;
}
