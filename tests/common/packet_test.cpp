#include "common/packet.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

// Bit-at-a-time CRC-16/MODBUS, the slow twin of the nibble-table crc16.
uint16_t crc16_bitwise(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xA001u : crc >> 1;
        }
    }
    return static_cast<uint16_t>(crc);
}

// Soft chips as a detector would deliver them: +/-amplitude for chips 1/0, times polarity.
std::vector<float> soft_chips(std::string_view chips, float polarity, float amplitude = 1.0f) {
    std::vector<float> out;
    for (char c : chips) {
        out.push_back((c == '1' ? amplitude : -amplitude) * polarity);
    }
    return out;
}

std::string strip_blanks(std::string s) {
    std::erase(s, ' ');
    return s;
}

} // namespace

TEST(Packet, CrcFigures) {
    const std::string check = "123456789";
    EXPECT_EQ(crc16(std::vector<uint8_t>(check.begin(), check.end())), 0x4B37);
    EXPECT_EQ(crc16({}), 0xFFFF);
    EXPECT_EQ(crc16(std::vector<uint8_t>{0xAB}), 0xFFFE);
}

TEST(Packet, CrcMatchesBitwiseForm) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 2000; ++round) {
        std::vector<uint8_t> bytes(rng() % 40);
        for (uint8_t& b : bytes) {
            b = static_cast<uint8_t>(rng());
        }
        ASSERT_EQ(crc16(bytes), crc16_bitwise(bytes)) << "round " << round;
    }
}

TEST(Packet, HexDigits) {
    // Characters are not checked: a lower-case b counts as 98 - 55 = 43.
    EXPECT_EQ(hex_to_bytes("0A1bFF"), (std::vector<uint8_t>{0x0A, 0x3B, 0xFF}));
    EXPECT_EQ(hex_to_bytes("ABC"), (std::vector<uint8_t>{0xAB, 0xC0}));
    EXPECT_TRUE(hex_to_bytes("").empty());
    EXPECT_EQ(check_digits("AB", 0), (std::array<char, 4>{'F', 'F', 'F', 'E'}));
    EXPECT_EQ(check_digits("AB", 0x1234), (std::array<char, 4>{'E', 'D', 'C', 'A'}));
    std::string chips;
    hex_to_chips("5", chips);
    hex_to_chips("F0", chips);
    EXPECT_EQ(chips, "10011001"
                     "01010101"
                     "10101010");
}

TEST(Packet, GrayCode) {
    const uint32_t expected[] = {0, 1, 3, 2, 6, 7, 5, 4};
    for (uint32_t v = 0; v < 8; ++v) {
        EXPECT_EQ(gray_code(v, 1), expected[v]) << v;
    }
    for (uint32_t v = 0; v <= 65535; ++v) {
        ASSERT_EQ(gray_code(gray_code(v, 1), -1), v) << v;
    }
    for (uint32_t v : {0x12345678u, 0xFFFFFFFFu, 0x80000000u}) {
        EXPECT_EQ(gray_code(gray_code(v, 0), -1), v) << v;
    }
}

TEST(Packet, ChipStringsOfPayloadAB) {
    // Public layer, no time stamp: CRC 0xFFFE, check digits FFFE.
    EXPECT_EQ(packet_build("AB", -1.0f, 0.0f, 0),
              strip_blanks("000111000111 01100110 01100101 01010101 01010101 01010101 01010110"));
    // t = 60 s at 50 chips/s: the packet ends at 61.7 s, 4 quarter minutes, Gray code 6.
    const std::string with_time =
        strip_blanks("000111000111 101010101010101010010110 01100110 01100101 "
                     "01010101010101010101010101010110");
    EXPECT_EQ(packet_build("AB", 60.0f, 50.0f, 0), with_time);

    std::string digits;
    int32_t time_stamp = 0;
    const std::vector<float> soft =
        soft_chips(std::string_view(with_time).substr(kSyncChips), 1.0f);
    EXPECT_TRUE(packet_parse(soft, 1.0f, static_cast<int32_t>(soft.size()), digits, time_stamp, 0));
    EXPECT_EQ(digits, "AB");
    EXPECT_EQ(time_stamp, 4);
}

TEST(Packet, TimeStampKeepsTwelveBits) {
    // 4100 units: Gray code 0x1806, of which 0x806 is sent.
    const std::optional<std::string> chips = packet_build("AB", 61498.3f, 50.0f, 0);
    ASSERT_TRUE(chips);
    EXPECT_EQ(chips->substr(kSyncChips, 24), "01101010"
                                             "10101010"
                                             "10010110");
}

TEST(Packet, EmptyPayloadCarriesOnlyTheCheck) {
    EXPECT_EQ(packet_build("", -1.0f, 0.0f, 0),
              std::string(kSyncPattern) + "01010101010101010101010101010101");
    // 0xFFFF XOR 0x36D9 = 0xC926.
    EXPECT_EQ(packet_build("", -1.0f, 0.0f, 0x36D9), std::string(kSyncPattern) + "01011010"
                                                                                 "01101001"
                                                                                 "10100110"
                                                                                 "10010110");
}

TEST(Packet, RoundTrips) {
    std::mt19937 rng(7);
    const uint16_t masks[] = {0, 0x36D9, 0x1234};
    for (int round = 0; round < 300; ++round) {
        std::string payload;
        const size_t n = 2 * (rng() % 9);
        for (size_t i = 0; i < n; ++i) {
            payload += kHexDigits[rng() % 16];
        }
        const uint16_t mask = masks[round % 3];
        const bool timed = round % 2 == 0;
        const float t = timed ? static_cast<float>(rng() % 61000) : -1.0f;
        const float polarity = round % 4 < 2 ? 1.0f : -1.0f;
        SCOPED_TRACE(testing::Message()
                     << payload << " mask " << mask << " t " << t << " polarity " << polarity);

        const std::optional<std::string> chips = packet_build(payload, t, 50.0f, mask);
        ASSERT_TRUE(chips);
        ASSERT_EQ(chips->size(), 8 * n + (timed ? 68 : 44));
        const std::vector<float> soft =
            soft_chips(std::string_view(*chips).substr(kSyncChips), polarity, 0.3f);
        const auto m = static_cast<int32_t>(soft.size());
        EXPECT_EQ(m % 16, timed ? 8 : 0);

        std::string digits;
        int32_t time_stamp = 0;
        EXPECT_TRUE(packet_parse(soft, polarity, m, digits, time_stamp, mask));
        EXPECT_EQ(digits, payload);
        const int32_t units = static_cast<int32_t>(std::floor(
            (static_cast<double>(8 * n + 69) / 50.0 + static_cast<double>(t)) / 15.0 + 0.5));
        EXPECT_EQ(time_stamp, timed ? units : -1);

        // Another layer's mask rejects the packet.
        EXPECT_FALSE(packet_parse(soft, polarity, m, digits, time_stamp,
                                  static_cast<uint16_t>(mask ^ 0x0100)));
        EXPECT_FALSE(packet_parse(soft, polarity, m, digits, time_stamp, mask == 0 ? 0x36D9 : 0));
    }
}

TEST(Packet, WeakTimeStampPairIsDropped) {
    const std::optional<std::string> chips = packet_build("1A2B", 60.0f, 50.0f, 0);
    ASSERT_TRUE(chips);
    std::vector<float> soft = soft_chips(std::string_view(*chips).substr(kSyncChips), 1.0f);
    const auto m = static_cast<int32_t>(soft.size());
    std::string digits;
    int32_t time_stamp = 0;

    // Pair 5 at 0.65 of the others is still trusted; at 0.55 it is not (the rule is 0.6 times
    // the mean pair strength), but the packet is still accepted.
    for (const auto& [scale, expected] : {std::pair{0.65f, 4}, std::pair{0.55f, -1}}) {
        SCOPED_TRACE(scale);
        std::vector<float> weak = soft;
        weak[10] *= scale;
        weak[11] *= scale;
        EXPECT_TRUE(packet_parse(weak, 1.0f, m, digits, time_stamp, 0));
        EXPECT_EQ(digits, "1A2B");
        EXPECT_EQ(time_stamp, expected);
    }
}

TEST(Packet, ShortAndDegenerateInput) {
    std::string digits = "junk";
    chips_to_hex(std::vector<float>(16, 1.0f), 1.0f, 0, digits);
    EXPECT_EQ(digits, "");
    // Equal chips (a difference of 0) read as bit 0 in either polarity.
    chips_to_hex(std::vector<float>(8, 0.5f), 1.0f, 8, digits);
    EXPECT_EQ(digits, "0");
    chips_to_hex(std::vector<float>(8, 0.5f), -1.0f, 8, digits);
    EXPECT_EQ(digits, "0");
    // Chips missing at the end read as 0, never past the span.
    chips_to_hex(std::vector<float>{-1.0f, 1.0f}, 1.0f, 8, digits);
    EXPECT_EQ(digits, "8");

    EXPECT_FALSE(packet_verify("", 0));
    EXPECT_FALSE(packet_verify("FFF", 0));
    EXPECT_TRUE(packet_verify("FFFF", 0));
    EXPECT_TRUE(packet_verify("ABFFFE", 0));
    int32_t time_stamp = 0;
    // Fewer chips than m: the missing ones read as 0 instead of memory past the span.
    EXPECT_FALSE(packet_parse(std::vector<float>(4, 1.0f), 1.0f, 40, digits, time_stamp, 0));
    EXPECT_EQ(digits, "");
    EXPECT_FALSE(packet_parse({}, 1.0f, -8, digits, time_stamp, 0));
    EXPECT_EQ(digits, "");
}
