#include "options.hpp"

#include "artdmx.hpp"
#include "notices.hpp"
#include "numbers.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <getopt.h>
#include <unistd.h>

void reset_getopt()
{
#if defined(__GLIBC__)
    optind = 0; // forces glibc to start over, forgetting the previous list
#else
    optreset = 1;
    optind = 1;
#endif
}

int next_option(int argc, char* const argv[], const char* letters)
{
    // getopt is never part-way through a word that reads "--help": it would
    // have been caught here before getopt reached it. So the word at optind
    // is either a fresh one or a group of letters already begun.
    const int word = optind > 0 ? optind : 1; // glibc's restart value is 0
    if (word < argc) {
        const std::string_view text = argv[word];
        if (text == "--help" || text == "--version") {
            optind = word + 1;
            return text == "--help" ? help_option : version_option;
        }
    }
    return getopt(argc, argv, letters);
}

namespace {

// The options read ahead quietly, up to the first that asks for help or the
// version, fails, or ends them; `wanted` says whether one is what it seeks.
template <typename Wanted> bool read_ahead(int argc, char* argv[], const char* letters, Wanted wanted)
{
    reset_getopt();
    const int reporting = opterr;
    opterr = 0;
    bool found = false;
    for (int option = 0; !found;) {
        option = next_option(argc, argv, letters);
        if (option == -1 || option == '?' || option == ':')
            break;
        found = wanted(option);
        if (option == help_option || option == version_option)
            break;
    }
    opterr = reporting;
    reset_getopt();
    return found;
}

} // namespace

bool asks_for_help_or_version(int argc, char* argv[], const char* letters)
{
    return read_ahead(
        argc, argv, letters, [](int option) { return option == help_option || option == version_option; });
}

bool asks_for_sacn(int argc, char* argv[], const char* letters)
{
    return read_ahead(argc, argv, letters, [](int option) { return option == 'E'; });
}

int answer_help_option(int option, const char* program, const char* invoked_as, void (*usage)(const char*, std::FILE*))
{
    if (option == 'h')
        usage(invoked_as, stderr);
    else if (option == help_option)
        usage(invoked_as, stdout);
    else
        print_version(program);
    return 0;
}

bool check_keep_alive(const char* text, int& ms, bool sacn)
{
    const int longest = sacn ? longest_sacn_keep_alive_ms : longest_keep_alive_ms;
    long value = 0;
    if (!parse_integer(text, value) || value < shortest_keep_alive_ms || value > longest) {
        std::fprintf(stderr, "Error: Keep-alive must be between %d and %d ms\n", shortest_keep_alive_ms, longest);
        return false;
    }
    ms = static_cast<int>(value);
    return true;
}

namespace {

bool read_port_option(const char* text, network_options& options)
{
    options.port_given = true;
    return check_port(text, options.port);
}

bool read_target_option(const char* text, network_options& options)
{
    // The longest dotted address, 255.255.255.255, has 15 characters.
    if (options.target_bounded && std::strlen(text) > 15) {
        std::fprintf(stderr, "Invalid target IP address\n");
        return false;
    }
    options.target = text;
    options.target_given = true;
    return true;
}

bool read_priority_option(const char* text, network_options& options)
{
    long value = 0;
    if (!parse_integer(text, value) || value < 0 || value > highest_e131_priority) {
        std::fprintf(stderr, "Error: Priority must be between 0 and %d\n", highest_e131_priority);
        return false;
    }
    options.priority = static_cast<int>(value);
    options.priority_given = true;
    return true;
}

bool read_interface_option(const char* text, network_options& options)
{
    if (::inet_pton(AF_INET, text, &options.interface) != 1) {
        std::fprintf(stderr, "Error: Invalid interface address: %s (an IPv4 address of this host)\n", text);
        return false;
    }
    options.interface_text = text;
    return true;
}

} // namespace

bool read_network_option(int option, const char* text, network_options& options)
{
    switch (option) {
    case 'p':
        return read_port_option(text, options);
    case 't':
        return read_target_option(text, options);
    case 'E':
        options.sacn = true; // read ahead already, for the checks that depend on it
        return true;
    case 'P':
        return read_priority_option(text, options);
    case 'I':
        return read_interface_option(text, options);
    case 'N':
        options.answer_polls = true;
        return true;
    default:
        return false;
    }
}

bool finish_network_options(network_options& options)
{
    if (!options.sacn && options.priority_given) {
        std::fprintf(stderr, "Error: -P (sACN priority) needs -E\n");
        return false;
    }
    if (!options.sacn && options.interface_text != nullptr) {
        std::fprintf(stderr, "Error: -I (multicast interface) needs -E\n");
        return false;
    }
    if (options.sacn && options.answer_polls) {
        std::fprintf(stderr, "Error: -N (answer ArtPoll) is Art-Net's and cannot be combined with -E\n");
        return false;
    }
    if (options.sacn && !options.port_given)
        options.port = e131_port;
    return true;
}

namespace {

// net.subnet.universe or net:subnet:universe, each part decimal digits only:
// the Port-Address, or -1 for anything else.
int read_port_address(std::string_view text, char separator)
{
    constexpr std::array<unsigned, 3> highest = {127, 15, 15};
    int address = 0;
    for (std::size_t part = 0; part < highest.size(); ++part) {
        const std::size_t end = part + 1 < highest.size() ? text.find(separator) : text.size();
        const std::string_view digits = text.substr(0, end);
        unsigned value = 0; // unsigned: no sign is taken
        const auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (digits.empty() || end == std::string_view::npos || error != std::errc()
            || stop != digits.data() + digits.size() || value > highest[part])
            return -1;
        address = address * (part == 0 ? 1 : 16) + static_cast<int>(value);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return address;
}

} // namespace

bool check_universe(const char* text, std::uint16_t& universe, bool sacn)
{
    const std::string_view typed(text);
    const std::size_t at = typed.find_first_of(".:");
    if (sacn) {
        const int value = at == std::string_view::npos ? saturating_atoi(text) : -1;
        if (value < lowest_e131_universe || value > highest_e131_universe) {
            std::fprintf(stderr, "Error: sACN universe must be between %d and %d\n", lowest_e131_universe,
                highest_e131_universe);
            return false;
        }
        universe = static_cast<std::uint16_t>(value);
        return true;
    }
    const int value = at == std::string_view::npos ? saturating_atoi(text) : read_port_address(typed, typed[at]);
    if (value < 0 || value > highest_port_address) {
        std::fprintf(stderr, "Error: Universe must be %d-%d or net.subnet.universe (0-127.0-15.0-15)\n", 0,
            highest_port_address);
        return false;
    }
    universe = static_cast<std::uint16_t>(value);
    return true;
}

bool check_port(const char* text, int& port)
{
    const int value = saturating_atoi(text);
    if (value < 1 || value > 65535) {
        std::fprintf(stderr, "Invalid port: %s\n", text);
        return false;
    }
    port = value;
    return true;
}

bool check_channel(const char* text, std::uint16_t& channel)
{
    const int value = saturating_atoi(text);
    if (value < 1 || value > static_cast<int>(channels_per_universe)) {
        std::fprintf(stderr, "Channel must be between 1 and %d\n", static_cast<int>(channels_per_universe));
        return false;
    }
    channel = static_cast<std::uint16_t>(value);
    return true;
}

bool add_universe(universe_list& list, std::uint16_t universe)
{
    if (std::ranges::find(listed_universes(list), universe) != listed_universes(list).end())
        return true;
    if (list.count == list.universes.size()) {
        list.too_many = true;
        return false;
    }
    list.universes[list.count++] = universe;
    return true;
}

std::span<const std::uint16_t> listed_universes(const universe_list& list)
{
    return std::span(list.universes).first(list.count);
}

void print_too_many_universes()
{
    std::fprintf(stderr, "Too many universes specified (max %zu)\n", most_listed_universes);
}
