#pragma once
// Strict reading of a configuration text, before any channel is configured: every word must be
// an option of the program followed by a value it allows. The grammar that configures the
// channels reads a word that is not a number as 0 and skips words it does not know; checked
// first, a misspelt option, a word where a number is due or a value out of range is refused
// with a sentence that names the word and says what is allowed, instead of being read as
// something else.
//
//   constexpr ConfigOption kOptions[] = {
//       config_choice("-layer", "public|private", "public"),
//       config_number("-gain", 0.0, 10.0, "1.0", ConfigRange::SignIgnored),
//   };
//   const std::string problem = config_problem(" -gain abc", kOptions);
//   // "-gain abc: not a number; give a number from 0 to 10 (default 1.0)"

#include <span>
#include <string>
#include <string_view>

enum class ConfigValue {
    Choice, // one of the words in `choices`, separated by "|"
    Number, // a decimal number within [low, high]
    Word,   // any word that is not one of the options' names (a layer code)
};

struct ConfigOption {
    std::string_view name; // "-gain"
    ConfigValue kind = ConfigValue::Word;
    std::string_view choices;       // Choice: "public|private"; Word: how to describe it
    double low = 0.0;               // Number: the smallest value allowed
    double high = 0.0;              // Number: the largest value allowed
    bool sign_ignored = false;      // Number: the range applies to the absolute value
    bool low_excluded = false;      // Number: low itself is not allowed
    std::string_view default_value; // shown with the allowed values
};

enum class ConfigRange {
    Closed,      // low <= value <= high
    LowExcluded, // low < value <= high
    SignIgnored, // low <= |value| <= high
};

constexpr ConfigOption config_choice(std::string_view name, std::string_view choices,
                                     std::string_view default_value) {
    return {name, ConfigValue::Choice, choices, 0.0, 0.0, false, false, default_value};
}
constexpr ConfigOption config_number(std::string_view name, double low, double high,
                                     std::string_view default_value,
                                     ConfigRange range = ConfigRange::Closed) {
    return {name,
            ConfigValue::Number,
            {},
            low,
            high,
            range == ConfigRange::SignIgnored,
            range == ConfigRange::LowExcluded,
            default_value};
}
// `description` says what the word is, for messages: "a layer code".
constexpr ConfigOption config_word(std::string_view name, std::string_view description,
                                   std::string_view default_value) {
    return {name, ConfigValue::Word, description, 0.0, 0.0, false, false, default_value};
}

// True when the whole word is a decimal number: optional sign, digits with an optional
// fraction, an optional exponent. No hexadecimal, "inf" or "nan".
bool config_is_number(std::string_view word) noexcept;

// The first problem of `text` (words cut at " [](),\t\n") against `options`, as one sentence
// without a final full stop; empty when the text is sound.
std::string config_problem(std::string_view text, std::span<const ConfigOption> options);

// The options' names joined for a message: "-layer, -gain, -addts and -rawbr".
std::string config_option_names(std::span<const ConfigOption> options);
