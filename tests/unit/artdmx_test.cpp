#include "artdmx.hpp"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

std::vector<std::uint8_t> header(std::uint16_t length, std::uint8_t net = 0, std::uint8_t sub_uni = 5)
{
    return {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0, sub_uni, net,
        static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xff)};
}

struct parsed {
    bool ok;
    std::uint16_t universe = 0xbeef;
    std::size_t length = 9999;
    std::array<std::uint8_t, channels_per_universe> data{};
};

parsed parse(const std::vector<std::uint8_t>& datagram)
{
    parsed result{};
    result.data.fill(0xaa);
    result.ok = parse_artdmx(datagram, result.universe, result.data, result.length);
    return result;
}

} // namespace

TEST(ArtDmx, BuildWritesEveryHeaderByteWhereTheWirePutsIt)
{
    std::array<std::uint8_t, artdmx_max_size> packet{};
    std::size_t length = 0;
    const std::array<std::uint8_t, 2> data = {255, 0};
    build_artdmx(packet, length, 1, 3, data);
    const std::vector<std::uint8_t> expected = {
        'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0x00, 0x0e, 0x01, 0x00, 0x03, 0x00, 0x00, 0x02, 0xff, 0x00};
    EXPECT_EQ(length, 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(packet.begin(), packet.begin() + 20), expected);

    // Odd lengths are written unchanged; the universe is split low byte first.
    std::array<std::uint8_t, 7> seven{};
    build_artdmx(packet, length, 0, 0x0102, seven);
    EXPECT_EQ(length, 25u);
    EXPECT_EQ(packet[14], 0x02);
    EXPECT_EQ(packet[15], 0x01);
    EXPECT_EQ(packet[16], 0);
    EXPECT_EQ(packet[17], 7);

    std::array<std::uint8_t, channels_per_universe> full{};
    build_artdmx(packet, length, 0, 0, full);
    EXPECT_EQ(length, 530u);
    EXPECT_EQ(packet[16], 0x02);
    EXPECT_EQ(packet[17], 0x00);
}

TEST(ArtDmx, ParseAcceptsAndRejectsInCheckOrder)
{
    auto with_data = [](std::uint16_t length, std::size_t data_bytes) {
        auto datagram = header(length);
        for (std::size_t i = 0; i < data_bytes; ++i)
            datagram.push_back(static_cast<std::uint8_t>(i + 1));
        return datagram;
    };

    auto short_one = header(0);
    short_one.pop_back();
    EXPECT_FALSE(parse(short_one).ok) << "17 bytes";

    const parsed empty = parse(header(0));
    EXPECT_TRUE(empty.ok);
    EXPECT_EQ(empty.length, 0u);
    EXPECT_EQ(empty.universe, 5);
    EXPECT_EQ(empty.data[0], 0xaa) << "length 0 leaves the buffer untouched";

    auto bad_id = header(0);
    bad_id[7] = 1;
    EXPECT_FALSE(parse(bad_id).ok);

    auto big_endian_opcode = header(0);
    big_endian_opcode[8] = 0x50;
    big_endian_opcode[9] = 0x00;
    EXPECT_FALSE(parse(big_endian_opcode).ok);

    const parsed too_long = parse(with_data(513, 513));
    EXPECT_FALSE(too_long.ok);
    EXPECT_EQ(too_long.universe, 5) << "the universe is written before the length checks";

    EXPECT_TRUE(parse(with_data(512, 512)).ok);
    EXPECT_FALSE(parse(with_data(100, 99)).ok);

    const parsed trailing = parse(with_data(100, 150));
    ASSERT_TRUE(trailing.ok);
    EXPECT_EQ(trailing.length, 100u);
    EXPECT_EQ(trailing.data[99], 100);
    EXPECT_EQ(trailing.data[100], 0xaa) << "only Length bytes are copied";

    const parsed odd = parse(with_data(7, 7));
    ASSERT_TRUE(odd.ok);
    EXPECT_EQ(odd.length, 7u);

    // Version, sequence and physical play no part in acceptance.
    auto any_version = with_data(2, 2);
    any_version[10] = 9;
    any_version[11] = 0;
    any_version[12] = 0;
    any_version[13] = 3;
    EXPECT_TRUE(parse(any_version).ok);
}

TEST(ArtDmx, UniverseIsSubUniLowNetHigh)
{
    EXPECT_EQ(parse(header(0, 0x00, 0x05)).universe, 5);
    EXPECT_EQ(parse(header(0, 0x01, 0x00)).universe, 256);
    EXPECT_EQ(parse(header(0, 0x01, 0x01)).universe, 257);
}

TEST(ArtDmx, WhatIsBuiltParsesBack)
{
    std::array<std::uint8_t, artdmx_max_size> packet{};
    std::array<std::uint8_t, channels_per_universe> data{};
    for (std::size_t length : {0u, 1u, 2u, 511u, 512u}) {
        for (std::size_t i = 0; i < length; ++i)
            data[i] = static_cast<std::uint8_t>(i * 7);
        std::size_t size = 0;
        build_artdmx(packet, size, 42, 255, std::span(data).first(length));
        const parsed back = parse(std::vector<std::uint8_t>(packet.begin(), packet.begin() + size));
        ASSERT_TRUE(back.ok);
        EXPECT_EQ(back.universe, 255);
        ASSERT_EQ(back.length, length);
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + length, back.data.begin()));
    }
}
