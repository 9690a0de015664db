#pragma once
// Configuration of a decoder channel: the words "-layer" and "-rawbr" of the configuration
// text (common/config_words.h), and the layer keying (chip waveform seed and check mask) they
// lead to; "-speed" is read by the driver, which runs the speed search (speed_search.h).
//
//   auto config = decoder_config_parse(" -layer private -rawbr 45");
//   auto key = decoder_layer_key(*config, owner_name);   // empty: unusable owner name

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/config_check.h"
#include "common/config_words.h"

enum class DecoderLayer { Public, Private, Code };

struct DecoderConfig {
    DecoderLayer layer = DecoderLayer::Public;
    std::string layer_code; // the text after "-layer" when it is a layer code
    float rawbr = 50.0f;    // chips per second
    double speed = 0.0;     // speed changes searched, in percent either way; 0: none
};

// Reads the options; later occurrences win, words that are not option names are ignored.
// Empty when "-layer", "-rawbr" or "-speed" is the last word. The chip rate and the speed are
// the leading decimal numbers of their words and are not range-checked here.
std::optional<DecoderConfig> decoder_config_parse(std::string_view text);

// Seed and check mask of the configured layer. "private" keys with the owner name and is
// empty when the owner name cannot key a layer (see owner_name_problem).
std::optional<LayerKey> decoder_layer_key(const DecoderConfig& config, std::string_view owner_name);

// The configuration help text that the usage text shows after "[options]: ".
const char* decoder_help_text() noexcept;

// The options, with the values each allows, for the strict check of the command line.
std::span<const ConfigOption> decoder_config_options() noexcept;
