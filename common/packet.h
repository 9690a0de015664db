#pragma once
// Watermark packet layout: a 12-chip sync pattern, an optional Gray-coded 12-bit time stamp,
// the payload digits and a 16-bit check value, the last three sent as Manchester chip pairs
// (bit 1 = chips 0 then 1, bit 0 = chips 1 then 0), most significant bit first.
//
// Encoder side: packet_build() gives the chip string ("0"/"1" characters) of one packet.
// Decoder side: packet_parse() turns the soft chips found after a sync pattern back into
// payload digits and a time stamp, accepted only when the check value matches the layer's mask.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kHexDigits = "0123456789ABCDEF";
inline constexpr std::string_view kSyncPattern = "000111000111";
inline constexpr int32_t kSyncChips = 12;
inline constexpr int32_t kLeadInChips = 40;

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final XOR),
// computed a nibble at a time, low nibble of each byte first.
uint16_t crc16(std::span<const uint8_t> bytes) noexcept;

// Two digits per byte, the first as the high nibble; an odd last digit gives a byte whose low
// nibble is 0. Digit values: code - 48 up to '9', code - 55 above. Characters are not checked.
std::vector<uint8_t> hex_to_bytes(std::string_view digits);

// The four check digits of a payload: (crc16 of its bytes) XOR mask, most significant first.
std::array<char, 4> check_digits(std::string_view payload, uint16_t check_mask);

// Gray code of value when direction >= 0, its inverse when direction < 0.
uint32_t gray_code(uint32_t value, int direction) noexcept;

// Appends 8 chips per digit (Manchester, most significant bit first) to `chips`.
void hex_to_chips(std::string_view digits, std::string& chips);

// The chip string of one packet. t is the packet's start time in seconds, negative for a
// packet without time stamp; rate is the chip rate in chips per second. Empty when memory is
// short.
std::optional<std::string> packet_build(std::string_view payload, float t, float rate,
                                        uint16_t check_mask) noexcept;

// Reads (m + 7) / 8 digits from m soft chips: bit 1 when (second - first) * polarity > 0.
// `output` is replaced by the digits (empty when m <= 0).
void chips_to_hex(std::span<const float> chips, float polarity, int32_t m, std::string& output);

// True when the last four digits are the check digits of the digits before them.
bool packet_verify(std::string_view digits, uint16_t check_mask);

// Parses the m soft chips between two sync patterns. m not a multiple of 16: the first 24
// chips are a time stamp, kept only when its weakest pair reaches 0.6 times the mean pair
// strength. Writes the payload digits (check digits removed) and the time stamp (-1 when
// absent or unreliable) whatever the result; returns true when the check matches.
bool packet_parse(std::span<const float> chips, float polarity, int32_t m, std::string& output,
                  int32_t& time_stamp, uint16_t check_mask);
