// Any word, universe, channel and value: the expansion stays within its
// fixed room, and a word without "%" or "$" comes back unchanged.
#include "watch.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return 0;
    const auto universe = static_cast<std::uint16_t>(data[0] | data[1] << 8);
    const auto channel_index = static_cast<std::uint16_t>(data[2] | data[3] << 8);
    const std::uint8_t value = data[4];
    const std::string text(reinterpret_cast<const char*>(data + 5), size - 5); // ends at its first NUL
    const std::size_t length = std::strlen(text.c_str());
    const std::optional<std::string> expanded = expand_variables(text.c_str(), universe, channel_index, value);
    if (!expanded || expanded->size() > length + 255)
        std::abort();
    if (text.find_first_of("%$") == std::string::npos && *expanded != text.c_str())
        std::abort();
    return 0;
}
