#include "common/config_words.h"

#include <cstdlib>
#include <limits>
#include <string>

#include "common/chip_waveform.h"

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of the run of decimal digits at `at`.
size_t digits_at(std::string_view word, size_t at) {
    size_t n = 0;
    while (at + n < word.size() && is_digit(word[at + n]))
        ++n;
    return n;
}

// Length of an optional sign at `at`, and whether it is a minus.
size_t sign_at(std::string_view word, size_t at, bool& negative) {
    negative = at < word.size() && word[at] == '-';
    return at < word.size() && (word[at] == '+' || word[at] == '-') ? 1 : 0;
}

} // namespace

std::vector<std::string_view> config_words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t start = text.find_first_not_of(kConfigSeparators);
    while (start != std::string_view::npos) {
        size_t end = text.find_first_of(kConfigSeparators, start);
        if (end == std::string_view::npos)
            end = text.size();
        words.push_back(text.substr(start, end - start));
        start = text.find_first_not_of(kConfigSeparators, end);
    }
    return words;
}

double config_read_real(std::string_view word) {
    bool negative = false;
    const size_t mantissa = sign_at(word, 0, negative);
    const size_t whole = digits_at(word, mantissa);
    size_t end = mantissa + whole;
    size_t fraction = 0;
    if (end < word.size() && word[end] == '.') {
        fraction = digits_at(word, end + 1);
        end += 1 + fraction;
    }
    if (whole + fraction == 0)
        return 0.0;
    if (end < word.size() && (word[end] == 'e' || word[end] == 'E')) {
        bool ignored = false;
        const size_t sign = sign_at(word, end + 1, ignored);
        const size_t exponent = digits_at(word, end + 1 + sign);
        if (exponent > 0)
            end += 1 + sign + exponent;
    }
    // strtod sees only the decimal text picked out above; it gives infinity on overflow.
    const std::string number(word.substr(mantissa, end - mantissa));
    const double value = std::strtod(number.c_str(), nullptr);
    return negative ? -value : value;
}

int32_t config_read_integer(std::string_view word) noexcept {
    bool negative = false;
    const size_t first = sign_at(word, 0, negative);
    const size_t count = digits_at(word, first);
    int64_t value = 0;
    for (size_t i = first; i < first + count; ++i) {
        value = value * 10 + (word[i] - '0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min())
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

LayerKey layer_key(std::string_view text) noexcept {
    LayerKey key;
    key.seed = owner_name_hash(text);
    key.check_mask =
        static_cast<uint16_t>((static_cast<uint32_t>(key.seed) ^ kCheckMaskKey) & 0xFFFFu);
    return key;
}
