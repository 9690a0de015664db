#include "encoder/config.h"

#include <climits>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "common/chip_waveform.h"

namespace {

constexpr std::string_view kDelimiters = " [](),\t\n";

constexpr std::string_view kHelpText =
    "Vek Audio Watermark encoder configuration parameters:\n"
    "\t-layer\t\"public\" for a public mark or \"private\" for a mark\n"
    "\t\tonly you can write\n"
    "\t-gain\tencoding gain\n"
    "\t-addts\ttime stamp toggle (1: add time stamp; 0: don't)\n"
    "\n"
    "\tDefault configuration:   -layer public -gain 1.0 -addts 0\n";

std::vector<std::string> split_tokens(std::string_view text) {
    std::vector<std::string> tokens;
    size_t at = text.find_first_not_of(kDelimiters);
    while (at != std::string_view::npos) {
        const size_t end = text.find_first_of(kDelimiters, at);
        tokens.emplace_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        at = end == std::string_view::npos ? end : text.find_first_not_of(kDelimiters, end);
    }
    return tokens;
}

// Decimal text read as a number the way the C library's atof reads it: the longest leading
// part that forms a number, 0 when there is none.
double read_number(const std::string& token) {
    return std::strtod(token.c_str(), nullptr);
}

// Decimal text read as an integer the way atoi reads it, kept within the 32-bit range.
int32_t read_integer(const std::string& token) {
    const long value = std::strtol(token.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

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
    const std::vector<std::string> tokens = split_tokens(text);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& name = tokens[i];
        const bool is_option =
            name == "-layer" || name == "-gain" || name == "-rawbr" || name == "-addts";
        if (!is_option)
            continue;
        if (i + 1 >= tokens.size())
            return {};
        const std::string& value = tokens[++i];
        if (name == "-layer") {
            if (value == "private") {
                config.seed = owner_name_hash(owner_name);
                config.check_mask = static_cast<uint16_t>((config.seed ^ kCheckMaskKey) & 0xFFFF);
                config.private_layer = true;
            } else if (value == "public") {
                config.seed = 0;
                config.check_mask = 0;
                config.private_layer = false;
            } else {
                return {};
            }
        } else if (name == "-gain") {
            gain = std::fabs(read_number(value));
        } else if (name == "-rawbr") {
            chip_rate = read_number(value);
        } else {
            config.add_time_stamp = read_integer(value);
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
