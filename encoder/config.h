#pragma once
// The configuration grammar of a channel encoder. The driver hands every channel the same
// string of option words, read as the words of common/config_words.h. Options: "-layer
// public|private", "-gain <number>" (absolute value), "-rawbr <chips per second>", "-addts
// <integer>". Other words are ignored, the last occurrence of an option wins, and text that is
// not a decimal number reads as 0.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "common/config_check.h"

struct EncoderConfig {
    float chip_rate = 50.0f;    // chips per second
    float gain = 1.0f;          // watermark amplitude factor, never negative
    int32_t seed = 0;           // chip waveform key: 0 on the public layer
    uint16_t check_mask = 0;    // XORed into every packet's check value: 0 on the public layer
    int32_t add_time_stamp = 0; // non-zero: packets carry a time stamp
    bool private_layer = false; // the last "-layer" named "private"
};

// Parses a configuration string; the owner name keys "-layer private". Empty when "-layer" has
// a value other than "public" or "private", an option lacks its value, or a value cannot work:
// a gain that is not finite, a chip rate that is not a positive finite number.
std::optional<EncoderConfig> encoder_config_parse(std::string_view text,
                                                  std::string_view owner_name);

// The configuration help text that the usage text ends with.
std::string_view encoder_help_text() noexcept;

// The largest gain, in absolute value: far above it the mark is louder than the music.
inline constexpr double kMaxGain = 10.0;

// The options, with the values each allows, for the strict check of the command line.
std::span<const ConfigOption> encoder_config_options() noexcept;
