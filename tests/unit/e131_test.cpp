#include "e131.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

e131_identity test_identity()
{
    e131_identity identity;
    for (std::size_t i = 0; i < identity.cid.size(); ++i)
        identity.cid[i] = static_cast<std::uint8_t>(0xa0 + i);
    std::strcpy(identity.name.data(), "showrun on stage");
    return identity;
}

std::vector<std::uint8_t> data_packet(std::size_t slots = 3, std::uint8_t options = 0)
{
    std::array<std::uint8_t, e131_data_max_size> packet{};
    std::vector<std::uint8_t> levels(slots);
    for (std::size_t i = 0; i < slots; ++i)
        levels[i] = static_cast<std::uint8_t>(i + 1);
    const std::size_t size = build_e131_data(packet, test_identity(), {300, 150, 7, 9, options}, levels);
    return {packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(size)};
}

} // namespace

// Every field where the wire puts it, big-endian, in the three packets.
TEST(E131, BuildWritesEachLayerWhereTheWirePutsIt)
{
    const std::vector<std::uint8_t> data = data_packet();
    std::array<std::uint8_t, e131_sync_size> sync{};
    build_e131_sync(sync, test_identity().cid, 42, 300);
    std::array<std::uint8_t, e131_discovery_max_size> discovery{};
    const std::array<std::uint16_t, 3> universes = {1, 2, 300};
    const std::size_t discovery_size = build_e131_discovery(discovery, test_identity(), 0, 0, universes);

    ASSERT_EQ(data.size(), 129u);
    EXPECT_EQ(discovery_size, 126u);
    const struct {
        std::span<const std::uint8_t> packet;
        std::vector<std::uint8_t> expected; // from `at` on
        std::size_t at;
    } cases[] = {
        // Preamble, post-amble, identifier, root flags and length (129 - 16), vector 4, CID.
        {data,
            {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-', 'E', '1', '.', '1', '7', 0, 0, 0, 0x70, 0x71, 0, 0, 0, 4, 0xa0,
                0xa1},
            0},
        // Framing: flags and length (129 - 38), vector 2, the name.
        {data, {0x70, 0x5b, 0, 0, 0, 2, 's', 'h', 'o', 'w'}, 38},
        // Priority, sync universe, sequence, options, universe 300; DMP layer; start code; the levels.
        {data, {150, 0, 7, 9, 0, 0x01, 0x2c, 0x70, 0x0e, 0x02, 0xa1, 0, 0, 0, 1, 0, 4, 0, 1, 2, 3}, 108},
        {sync, {0x70, 0x21, 0, 0, 0, 8}, 16},
        {sync, {0x70, 0x0b, 0, 0, 0, 1, 42, 0x01, 0x2c, 0, 0}, 38},
        {std::span(discovery).first(discovery_size), {0x70, 0x6e, 0, 0, 0, 8}, 16},
        {std::span(discovery).first(discovery_size), {0x70, 0x58, 0, 0, 0, 2, 's'}, 38},
        {std::span(discovery).first(discovery_size), {0, 0, 0, 0, 0x70, 0x0e, 0, 0, 0, 1, 0, 0, 0, 1, 0, 2, 0x01, 0x2c},
            108},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::vector(c.packet.begin() + static_cast<std::ptrdiff_t>(c.at),
                      c.packet.begin() + static_cast<std::ptrdiff_t>(c.at + c.expected.size())),
            c.expected)
            << "at " << c.at;
    // The name field is zero-padded to its 64 bytes.
    EXPECT_EQ(data[44 + 16], 0);
    EXPECT_EQ(data[107], 0);
}

TEST(E131, ParseTakesOnlyWellFormedDataPackets)
{
    e131_data parsed;
    const std::vector<std::uint8_t> whole = data_packet(); // the views point into it
    ASSERT_TRUE(parse_e131_data(whole, parsed));
    EXPECT_EQ(parsed.cid, test_identity().cid);
    EXPECT_EQ(parsed.source_name, "showrun on stage");
    EXPECT_EQ(parsed.priority, 150);
    EXPECT_EQ(parsed.sync_universe, 7);
    EXPECT_EQ(parsed.sequence, 9);
    EXPECT_EQ(parsed.universe, 300);
    EXPECT_EQ(std::vector(parsed.levels.begin(), parsed.levels.end()), (std::vector<std::uint8_t>{1, 2, 3}));

    const struct {
        std::size_t at;
        std::uint8_t value;
        bool accepted;
    } changes[] = {
        {1, 0x11, false},                                  // preamble size
        {4, 'a', false},                                   // identifier
        {16, 0x60, false},                                 // root flags
        {21, 8, false},                                    // root vector
        {39, 0x5c, false},                                 // framing length
        {43, 1, false},                                    // framing vector
        {113, 0, true},                                    // universe 44
        {114, 0, true},                                    // universe 256
        {113, 0xfa, false},                                // universe 64044
        {117, 3, false},                                   // DMP vector
        {118, 0xa2, false},                                // address and data type
        {120, 1, false},                                   // first property address
        {122, 2, false},                                   // address increment
        {124, 3, false},                                   // property value count
        {116, 0x0f, false},                                // DMP length
        {112, e131_preview_data, true}, {125, 0xdd, true}, // another start code: the receiver's to judge
    };
    for (const auto& c : changes) {
        std::vector<std::uint8_t> packet = data_packet();
        packet[c.at] = c.value;
        EXPECT_EQ(parse_e131_data(packet, parsed), c.accepted) << "byte " << c.at;
    }
    std::vector<std::uint8_t> universe_zero = data_packet();
    universe_zero[113] = universe_zero[114] = 0;
    EXPECT_FALSE(parse_e131_data(universe_zero, parsed));
    // The whole datagram counts: a byte more or less breaks every length.
    std::vector<std::uint8_t> longer = data_packet();
    longer.push_back(0);
    EXPECT_FALSE(parse_e131_data(longer, parsed));
    longer.resize(128);
    EXPECT_FALSE(parse_e131_data(longer, parsed));
    // No slot at all but the start code, and every slot.
    EXPECT_TRUE(parse_e131_data(data_packet(0), parsed));
    EXPECT_TRUE(parse_e131_data(data_packet(512), parsed));
    EXPECT_EQ(parsed.levels.size(), 512u);

    std::array<std::uint8_t, e131_discovery_max_size> page{};
    const std::array<std::uint16_t, 2> universes = {5, 63999};
    const std::size_t size = build_e131_discovery(page, test_identity(), 1, 2, universes);
    e131_discovery discovery;
    ASSERT_TRUE(parse_e131_discovery(std::span(page).first(size), discovery));
    EXPECT_EQ(discovery.page, 1);
    EXPECT_EQ(discovery.last_page, 2);
    ASSERT_EQ(discovery.count(), 2u);
    EXPECT_EQ(discovery.universe(1), 63999);
    EXPECT_FALSE(parse_e131_discovery(data_packet(), discovery));
    EXPECT_FALSE(parse_e131_data(std::span(page).first(size), parsed));
}

TEST(E131, IdentityIsAFreshVersion4UuidAndANameThatFits)
{
    const e131_identity a = make_e131_identity("showrun");
    const e131_identity b = make_e131_identity("showrun");
    EXPECT_NE(a.cid, b.cid);
    EXPECT_EQ(a.cid[6] >> 4, 4);
    EXPECT_EQ(a.cid[8] >> 6, 2);
    EXPECT_TRUE(std::string_view(a.name.data()).starts_with("showrun on "));
    EXPECT_STREQ(format_cid(test_identity().cid).data(), "a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf");
    // A long name is cut where a character begins, within 63 bytes.
    std::string program(61, 'x');
    program += "\xc3\xa9"; // two bytes: ends at byte 63, " on " no longer fits
    const e131_identity cut = make_e131_identity(program.c_str());
    EXPECT_EQ(std::string_view(cut.name.data()), program.substr(0, 61) + "\xc3\xa9");
    program.insert(0, "y");
    EXPECT_EQ(std::string_view(make_e131_identity(program.c_str()).name.data()), program.substr(0, 62));
}
