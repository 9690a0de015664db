#include "decoder/config.h"

#include <cstdlib>
#include <string>

#include "common/chip_waveform.h"
#include "common/owner_name.h"

namespace {

constexpr std::string_view kSeparators = " [](),\t\n";
constexpr uint32_t kCheckMaskConstant = 0x36D9;

LayerKey key_from_text(std::string_view text) {
    const int32_t h = owner_name_hash(text);
    LayerKey key;
    key.seed = h;
    key.check_mask =
        static_cast<uint16_t>((static_cast<uint32_t>(h) ^ kCheckMaskConstant) & 0xFFFFu);
    return key;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::vector<std::string_view> decoder_config_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < text.size()) {
        const size_t start = text.find_first_not_of(kSeparators, at);
        if (start == std::string_view::npos)
            break;
        size_t end = text.find_first_of(kSeparators, start);
        if (end == std::string_view::npos)
            end = text.size();
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

double decoder_read_real(std::string_view word) {
    // Sign, digits, an optional fraction and an optional exponent: nothing else (no "inf",
    // no hexadecimal), so that what reads as a number is a plain decimal.
    size_t i = 0;
    bool negative = false;
    if (i < word.size() && (word[i] == '+' || word[i] == '-')) {
        negative = word[i] == '-';
        ++i;
    }
    const size_t mantissa_start = i;
    size_t digits = 0;
    while (i < word.size() && is_digit(word[i])) {
        ++i;
        ++digits;
    }
    if (i < word.size() && word[i] == '.') {
        ++i;
        while (i < word.size() && is_digit(word[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return 0.0;
    size_t end = i;
    if (i < word.size() && (word[i] == 'e' || word[i] == 'E')) {
        size_t j = i + 1;
        if (j < word.size() && (word[j] == '+' || word[j] == '-'))
            ++j;
        const size_t exponent_start = j;
        while (j < word.size() && is_digit(word[j]))
            ++j;
        if (j > exponent_start)
            end = j;
    }
    // strtod sees only the decimal text picked out above; it gives infinity on overflow.
    const std::string number(word.substr(mantissa_start, end - mantissa_start));
    const double value = std::strtod(number.c_str(), nullptr);
    return negative ? -value : value;
}

std::optional<DecoderConfig> decoder_config_parse(std::string_view text) {
    const std::vector<std::string_view> words = decoder_config_words(text);
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
            config.rawbr = static_cast<float>(decoder_read_real(words[++i]));
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
        return key_from_text(owner_name);
    case DecoderLayer::Code:
        return key_from_text(config.layer_code);
    }
    return std::nullopt;
}

const char* decoder_help_text() noexcept {
    return "Vek Audio Watermark decoder configuration parameters:\n"
           "\t-layer\t\"public\" for a public mark; \"private\" for your own\n"
           "\t\tprivate mark; or someone else's private layer code\n"
           "\n"
           "\tDefault configuration:   -layer public\n";
}
