#include "common/packet.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

// T[i]: the 4-bit value i shifted through four steps of the reflected polynomial 0xA001.
constexpr std::array<uint16_t, 16> make_nibble_table() {
    std::array<uint16_t, 16> table{};
    for (uint32_t i = 0; i < 16; ++i) {
        uint32_t crc = i;
        for (int bit = 0; bit < 4; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xA001u : crc >> 1;
        }
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint16_t, 16> kCrcNibbleTable = make_nibble_table();
static_assert(kCrcNibbleTable.size() == 16 && kCrcNibbleTable[1] == 0xCC01 &&
              kCrcNibbleTable[8] == 0xA001);

// Value of a digit character: code - 48 up to '9', code - 55 above (not checked).
int digit_value(char c) {
    const auto code = static_cast<int>(static_cast<unsigned char>(c));
    return code <= '9' ? code - 48 : code - 55;
}

// A soft chip, or 0.0 (no decision) past the end of the chips given.
float chip_at(std::span<const float> chips, size_t index) {
    return index < chips.size() ? chips[index] : 0.0f;
}

// The count of 15-second units at which a packet that starts at t seconds ends, rounded to
// the nearest unit (halves up). Only its low bits are sent, so it is reduced modulo 2^32;
// a time that is not a finite non-negative number counts as 0.
uint32_t time_stamp_units(double seconds) {
    const double units = std::floor(seconds * (1.0 / 15.0) + 0.5);
    if (!(units >= 0.0) || !std::isfinite(units)) {
        return 0;
    }
    return static_cast<uint32_t>(std::fmod(units, 4294967296.0));
}

void append_digit_chips(int value, std::string& chips) {
    for (int weight = 8; weight > 0; weight >>= 1) {
        chips += (value & weight) != 0 ? "01" : "10";
    }
}

} // namespace

uint16_t crc16(std::span<const uint8_t> bytes) noexcept {
    uint32_t crc = 0xFFFF;
    for (const uint8_t byte : bytes) {
        crc = (crc >> 4) ^ kCrcNibbleTable[crc & 15u] ^ kCrcNibbleTable[byte & 15u];
        crc = (crc >> 4) ^ kCrcNibbleTable[crc & 15u] ^ kCrcNibbleTable[byte >> 4];
    }
    return static_cast<uint16_t>(crc);
}

std::vector<uint8_t> hex_to_bytes(std::string_view digits) {
    std::vector<uint8_t> bytes;
    bytes.reserve((digits.size() + 1) / 2);
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = digit_value(digits[i]);
        const int low = i + 1 < digits.size() ? digit_value(digits[i + 1]) : 0;
        bytes.push_back(static_cast<uint8_t>((high * 16 + low) & 0xFF));
    }
    return bytes;
}

std::array<char, 4> check_digits(std::string_view payload, uint16_t check_mask) {
    const uint32_t c = static_cast<uint32_t>(crc16(hex_to_bytes(payload)) ^ check_mask) & 0xFFFFu;
    return {kHexDigits[c >> 12], kHexDigits[(c >> 8) & 15u], kHexDigits[(c >> 4) & 15u],
            kHexDigits[c & 15u]};
}

uint32_t gray_code(uint32_t value, int direction) noexcept {
    if (direction >= 0) {
        return value ^ (value >> 1);
    }
    // XOR of the value with all its right shifts, done in doubling steps.
    uint32_t result = value;
    for (uint32_t shift = 1; shift <= 16; shift <<= 1) {
        const uint32_t shifted = result >> shift;
        result ^= shifted;
        if (shifted <= 1) {
            break;
        }
    }
    return result;
}

void hex_to_chips(std::string_view digits, std::string& chips) {
    for (const char c : digits) {
        append_digit_chips(digit_value(c), chips);
    }
}

std::optional<std::string> packet_build(std::string_view payload, float t, float rate,
                                        uint16_t check_mask) noexcept {
    try {
        // Length of the chip string with a time stamp, counting a terminator: the packet's
        // duration plus one chip, which places the time stamp at the packet's end.
        const size_t length = 8 * payload.size() + 69;
        std::string chips;
        chips.reserve(length);
        chips += kSyncPattern;
        if (t >= 0.0f) {
            const double end =
                static_cast<double>(length) / static_cast<double>(rate) + static_cast<double>(t);
            const uint32_t gray = gray_code(time_stamp_units(end), 1);
            append_digit_chips(static_cast<int>((gray >> 8) & 15u), chips);
            append_digit_chips(static_cast<int>((gray >> 4) & 15u), chips);
            append_digit_chips(static_cast<int>(gray & 15u), chips);
        }
        hex_to_chips(payload, chips);
        const std::array<char, 4> check = check_digits(payload, check_mask);
        hex_to_chips(std::string_view(check.data(), check.size()), chips);
        return chips;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

void chips_to_hex(std::span<const float> chips, float polarity, int32_t m, std::string& output) {
    output.clear();
    if (m <= 0) {
        return;
    }
    const size_t digits = (static_cast<size_t>(m) + 7) / 8;
    output.reserve(digits);
    size_t at = 0;
    for (size_t d = 0; d < digits; ++d) {
        size_t value = 0;
        for (int bit = 0; bit < 4; ++bit, at += 2) {
            const float diff = (chip_at(chips, at + 1) - chip_at(chips, at)) * polarity;
            value = value * 2 + (diff > 0.0f ? 1 : 0);
        }
        output += kHexDigits[value];
    }
}

bool packet_verify(std::string_view digits, uint16_t check_mask) {
    if (digits.size() < 4) {
        return false;
    }
    const size_t p = digits.size() - 4;
    const std::array<char, 4> expected = check_digits(digits.substr(0, p), check_mask);
    return digits.substr(p) == std::string_view(expected.data(), expected.size());
}

bool packet_parse(std::span<const float> chips, float polarity, int32_t m, std::string& output,
                  int32_t& time_stamp, uint16_t check_mask) {
    time_stamp = -1;
    if (m <= 0) {
        output.clear();
        return false;
    }
    if (m % 16 != 0) {
        // A time stamp leads: 12 Manchester pairs, MSB first. It is kept only when its weakest
        // pair reaches 0.6 times the mean pair strength of everything after the sync pattern.
        uint32_t bits = 0;
        double strength = 0.0;
        float weakest = 1000.0f;
        for (size_t k = 0; k < 12; ++k) {
            const float first = chip_at(chips, 2 * k);
            const float second = chip_at(chips, 2 * k + 1);
            const float d = (second - first) * polarity;
            if (d > 0.0f) {
                bits |= 1u << (11 - k);
            }
            strength += static_cast<double>(std::fabs(d));
            weakest = std::min(weakest, std::fabs(d));
        }
        if (m > 24) {
            const auto pairs = static_cast<size_t>((m - 23) / 2);
            for (size_t k = 12; k < 12 + pairs; ++k) {
                const float d = chip_at(chips, 2 * k + 1) - chip_at(chips, 2 * k);
                strength += static_cast<double>(std::fabs(d));
            }
        }
        const double threshold = strength * (static_cast<double>(1.2f) / static_cast<double>(m));
        if (static_cast<double>(weakest) >= threshold) {
            time_stamp = static_cast<int32_t>(gray_code(bits, -1));
        }
        chips_to_hex(chips.size() > 24 ? chips.subspan(24) : std::span<const float>(), polarity,
                     m - 24, output);
    } else {
        chips_to_hex(chips, polarity, m, output);
    }
    const bool result = packet_verify(output, check_mask);
    output.resize(output.size() >= 4 ? output.size() - 4 : 0);
    return result;
}
