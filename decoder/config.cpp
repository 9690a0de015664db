#include "decoder/config.h"

#include <vector>

#include "common/owner_name.h"

std::optional<DecoderConfig> decoder_config_parse(std::string_view text) {
    const std::vector<std::string_view> words = config_words(text);
    DecoderConfig config;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "-layer") {
            if (i + 1 >= words.size())
                return std::nullopt;
            const std::string_view value = words[++i];
            if (value == "public") {
                config.layer = DecoderLayer::Public;
                config.layer_code.clear();
            } else if (value == "private") {
                config.layer = DecoderLayer::Private;
                config.layer_code.clear();
            } else {
                config.layer = DecoderLayer::Code;
                config.layer_code = std::string(value);
            }
        } else if (words[i] == "-rawbr") {
            if (i + 1 >= words.size())
                return std::nullopt;
            config.rawbr = static_cast<float>(config_read_real(words[++i]));
        } else if (words[i] == "-speed") {
            if (i + 1 >= words.size())
                return std::nullopt;
            config.speed = config_read_real(words[++i]);
        }
    }
    return config;
}

std::optional<LayerKey> decoder_layer_key(const DecoderConfig& config,
                                          std::string_view owner_name) {
    switch (config.layer) {
    case DecoderLayer::Public:
        return LayerKey{};
    case DecoderLayer::Private:
        if (!owner_name_problem(owner_name).empty())
            return std::nullopt;
        return layer_key(owner_name);
    case DecoderLayer::Code:
        return layer_key(config.layer_code);
    }
    return std::nullopt;
}

const char* decoder_help_text() noexcept {
    return "Vek Audio Watermark decoder configuration parameters:\n"
           "\t-layer\t\"public\" for a public mark; \"private\" for your own\n"
           "\t\tprivate mark; or someone else's private layer code\n"
           "\t-rawbr\tchip rate of the mark in chips per second, 1 to 2000\n"
           "\t-speed\talso search speed changes (pitch and tempo together) up\n"
           "\t\tto this many percent either way, 0 to 5; slower the wider\n"
           "\n"
           "\tDefault configuration:   -layer public -rawbr 50 -speed 0\n";
}

namespace {

// What the configuration words may be; checked before any channel is configured.
constexpr ConfigOption kOptions[] = {
    config_word("-layer", "public, private or a layer code", "public"),
    config_number("-rawbr", 1.0, 2000.0, "50"),
    config_number("-speed", 0.0, 5.0, "0"),
};

} // namespace

std::span<const ConfigOption> decoder_config_options() noexcept {
    return kOptions;
}
