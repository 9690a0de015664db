#pragma once
// What the encoder's and the decoder's configuration grammars share: the configuration text
// is cut into words at runs of " [](),\t\n", so "-gain 2", "-gain(2)" and "[-gain,2]" read
// alike; numbers are read from the leading decimal text of a word; a layer is keyed by the
// hash of a text.
//
//   for (std::string_view word : config_words(" -rawbr(45)")) ...   // "-rawbr", "45"
//   const LayerKey key = layer_key(owner_name);                     // seed and check mask

#include <cstdint>
#include <string_view>
#include <vector>

// The characters that separate the words of a configuration text.
inline constexpr std::string_view kConfigSeparators = " [](),\t\n";

// XORed with a private layer's seed to give its check mask.
inline constexpr uint32_t kCheckMaskKey = 0x36D9;

// The words of a configuration text, in order; views into `text`.
std::vector<std::string_view> config_words(std::string_view text);

// The longest leading part of a word that reads as a decimal real number (sign, digits, an
// optional fraction and exponent); 0.0 when there is none. No hexadecimal, "inf" or "nan";
// a number too large for a double reads as infinity.
double config_read_real(std::string_view word);

// The leading decimal integer of a word (optional sign, digits), kept within the 32-bit range;
// 0 when there is none.
int32_t config_read_integer(std::string_view word) noexcept;

struct LayerKey {
    int32_t seed = 0;        // chip waveform seed: 0 on the public layer
    uint16_t check_mask = 0; // XORed into every packet's check value: 0 on the public layer
};

// The private layer keyed by `text` (an owner name or a layer code): seed = owner_name_hash,
// check mask = (seed XOR kCheckMaskKey) AND 0xFFFF.
LayerKey layer_key(std::string_view text) noexcept;
