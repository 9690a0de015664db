#include "encoder/config.h"

#include <cmath>
#include <limits>
#include <vector>

#include "common/config_words.h"

namespace {

constexpr std::string_view kHelpText =
    "Vek Audio Watermark encoder configuration parameters:\n"
    "\t-layer\t\"public\" for a public mark or \"private\" for a mark\n"
    "\t\tonly you can write\n"
    "\t-gain\tencoding gain, 0 to 10 (the sign is ignored)\n"
    "\t-addts\ttime stamp toggle (1: add time stamp; 0: don't)\n"
    "\t-rawbr\tchip rate in chips per second, 1 to 2000\n"
    "\t\t(the decoder must be given the same)\n"
    "\n"
    "\tDefault configuration:   -layer public -gain 1.0 -addts 0 -rawbr 50\n";

// What the configuration words may be; checked before any channel is configured.
constexpr ConfigOption kOptions[] = {
    config_choice("-layer", "public|private", "public"),
    config_number("-gain", 0.0, kMaxGain, "1.0", ConfigRange::SignIgnored),
    config_choice("-addts", "0|1", "0"),
    config_number("-rawbr", 1.0, 2000.0, "50"),
};

// The single-precision value of a number, or nothing when it has none (not finite, or too
// large for a float).
std::optional<float> to_finite_float(double value) {
    if (!std::isfinite(value) ||
        std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
        return {};
    return static_cast<float>(value);
}

} // namespace

std::optional<EncoderConfig> encoder_config_parse(std::string_view text,
                                                  std::string_view owner_name) {
    EncoderConfig config;
    // Numbers are checked once the last occurrence of their option is known.
    double gain = static_cast<double>(config.gain);
    double chip_rate = static_cast<double>(config.chip_rate);
    const std::vector<std::string_view> tokens = config_words(text);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string_view name = tokens[i];
        const bool is_option =
            name == "-layer" || name == "-gain" || name == "-rawbr" || name == "-addts";
        if (!is_option)
            continue;
        if (i + 1 >= tokens.size())
            return {};
        const std::string_view value = tokens[++i];
        if (name == "-layer") {
            if (value == "private") {
                const LayerKey key = layer_key(owner_name);
                config.seed = key.seed;
                config.check_mask = key.check_mask;
                config.private_layer = true;
            } else if (value == "public") {
                config.seed = 0;
                config.check_mask = 0;
                config.private_layer = false;
            } else {
                return {};
            }
        } else if (name == "-gain") {
            gain = std::fabs(config_read_real(value));
        } else if (name == "-rawbr") {
            chip_rate = config_read_real(value);
        } else {
            config.add_time_stamp = config_read_integer(value);
        }
    }
    const std::optional<float> gain_value = to_finite_float(gain);
    const std::optional<float> chip_rate_value = to_finite_float(chip_rate);
    if (!gain_value || !chip_rate_value || !(*chip_rate_value > 0.0f))
        return {};
    config.gain = *gain_value;
    config.chip_rate = *chip_rate_value;
    return config;
}

std::string_view encoder_help_text() noexcept {
    return kHelpText;
}

std::span<const ConfigOption> encoder_config_options() noexcept {
    return kOptions;
}
