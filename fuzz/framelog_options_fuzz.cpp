// Any command line for framelog, its words split at zero bytes: the options
// either fail or leave settings the recorder can trust: every universe a
// Port-Address, the list within its room, and -U without -m or a list that
// overflowed.
#include "settings.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words = {"framelog"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    reset_getopt();
    recorder_settings settings;
    if (read_options(static_cast<int>(words.size()), argv.data(), settings) != -1)
        return 0;
    const auto listed = listed_universes(settings.listed);
    const bool port_addresses = std::ranges::all_of(listed, [](std::uint16_t u) { return u <= highest_port_address; });
    if (settings.path == nullptr || !port_addresses || listed.size() > most_listed_universes
        || (!settings.record_all && settings.universe > highest_port_address)
        || (settings.show_file && (settings.min_delay_given || settings.listed.too_many)))
        std::abort();
    return 0;
}
