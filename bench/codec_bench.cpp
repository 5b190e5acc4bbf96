// The per-packet work of the senders and receivers, and reading a recording's
// longest row.
#include "artdmx.hpp"
#include "frame_csv.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <string>

static void build_full_universe(benchmark::State& state)
{
    std::array<std::uint8_t, artdmx_max_size> packet{};
    std::array<std::uint8_t, channels_per_universe> data{};
    std::size_t length = 0;
    std::uint8_t sequence = 0;
    for (auto _ : state) {
        build_artdmx(packet, length, sequence++, 1, data);
        benchmark::DoNotOptimize(packet);
    }
}
BENCHMARK(build_full_universe);

static void parse_full_universe(benchmark::State& state)
{
    std::array<std::uint8_t, artdmx_max_size> packet{};
    std::array<std::uint8_t, channels_per_universe> data{};
    std::size_t length = 0;
    build_artdmx(packet, length, 1, 1, data);
    std::uint16_t universe = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_artdmx(packet, universe, data, length));
    }
}
BENCHMARK(parse_full_universe);

static void parse_longest_row(benchmark::State& state)
{
    std::string row = "65535";
    for (int i = 0; i < 512; ++i)
        row += ",255";
    row += '\n';
    std::array<std::uint8_t, channels_per_universe> data{};
    std::uint16_t delay = 0;
    std::size_t count = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(parse_csv_line(row.c_str(), delay, data, count));
    }
}
BENCHMARK(parse_longest_row);
