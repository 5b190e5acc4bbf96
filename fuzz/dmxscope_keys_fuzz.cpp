// Any bytes on the monitor's standard input, as the key reader takes them:
// every byte gives at most one press, and a plain byte comes back as itself.
#include "terminal.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    key_reader reader;
    for (std::size_t i = 0; i < size; ++i) {
        const key_press press = reader.feed(data[i]);
        if (press.kind == key_kind::byte && press.byte != data[i])
            std::abort();
    }
    return 0;
}
