#include "common/config_check.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "common/text_format.h"

namespace {

constexpr std::string_view kSeparators = " [](),\t\n";

std::vector<std::string_view> words_of(std::string_view text) {
    std::vector<std::string_view> words;
    size_t start = text.find_first_not_of(kSeparators);
    while (start != std::string_view::npos) {
        const size_t end = std::min(text.find_first_of(kSeparators, start), text.size());
        words.push_back(text.substr(start, end - start));
        start = text.find_first_not_of(kSeparators, end);
    }
    return words;
}

size_t digits_at(std::string_view word, size_t at) {
    size_t n = 0;
    while (at + n < word.size() && word[at + n] >= '0' && word[at + n] <= '9')
        ++n;
    return n;
}

const ConfigOption* find_option(std::span<const ConfigOption> options, std::string_view name) {
    for (const ConfigOption& option : options) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

// "0 or 1", "public or private".
std::string choice_list(std::string_view choices) {
    std::string out;
    size_t start = 0;
    while (start <= choices.size()) {
        const size_t bar = std::min(choices.find('|', start), choices.size());
        const std::string_view choice = choices.substr(start, bar - start);
        if (!out.empty())
            out += bar == choices.size() ? " or " : ", ";
        out += choice;
        start = bar + 1;
    }
    return out;
}

std::string number_text(double value) {
    return text_format("%g", value);
}

// What the option allows, for a message: "a number from 0 to 10 (default 1.0)".
std::string allowed(const ConfigOption& option) {
    std::string text;
    switch (option.kind) {
    case ConfigValue::Choice:
        text = choice_list(option.choices);
        break;
    case ConfigValue::Number:
        text = "a number " +
               (option.low_excluded ? "above " + number_text(option.low) + " up to "
                                    : "from " + number_text(option.low) + " to ") +
               number_text(option.high);
        break;
    case ConfigValue::Word:
        text = std::string(option.choices);
        break;
    }
    std::string notes;
    if (!option.default_value.empty())
        notes = "default " + std::string(option.default_value);
    if (option.kind == ConfigValue::Number && option.sign_ignored)
        notes += notes.empty() ? "the sign is ignored" : "; the sign is ignored";
    return notes.empty() ? text : text + " (" + notes + ")";
}

std::string value_problem(const ConfigOption& option, std::string_view value) {
    const std::string name(option.name);
    const std::string word(value);
    switch (option.kind) {
    case ConfigValue::Choice: {
        size_t start = 0;
        while (start <= option.choices.size()) {
            const size_t bar = std::min(option.choices.find('|', start), option.choices.size());
            if (option.choices.substr(start, bar - start) == value)
                return {};
            start = bar + 1;
        }
        return text_format("%s %s: not allowed; use %s", name.c_str(), word.c_str(),
                           allowed(option).c_str());
    }
    case ConfigValue::Number: {
        if (!config_is_number(value))
            return text_format("%s %s: not a number; give %s", name.c_str(), word.c_str(),
                               allowed(option).c_str());
        double number = std::strtod(word.c_str(), nullptr);
        if (option.sign_ignored)
            number = std::fabs(number);
        const bool too_low = option.low_excluded ? !(number > option.low) : number < option.low;
        if (too_low || !(number <= option.high))
            return text_format("%s %s: out of range; give %s", name.c_str(), word.c_str(),
                               allowed(option).c_str());
        return {};
    }
    case ConfigValue::Word:
        return {};
    }
    return {};
}

} // namespace

bool config_is_number(std::string_view word) noexcept {
    size_t at = word.size() > 0 && (word[0] == '+' || word[0] == '-') ? 1 : 0;
    const size_t whole = digits_at(word, at);
    at += whole;
    size_t fraction = 0;
    if (at < word.size() && word[at] == '.') {
        fraction = digits_at(word, at + 1);
        at += 1 + fraction;
    }
    if (whole + fraction == 0)
        return false;
    if (at < word.size() && (word[at] == 'e' || word[at] == 'E')) {
        ++at;
        if (at < word.size() && (word[at] == '+' || word[at] == '-'))
            ++at;
        const size_t exponent = digits_at(word, at);
        if (exponent == 0)
            return false;
        at += exponent;
    }
    return at == word.size();
}

std::string config_option_names(std::span<const ConfigOption> options) {
    std::string out;
    for (size_t i = 0; i < options.size(); ++i) {
        if (i > 0)
            out += i + 1 == options.size() ? " and " : ", ";
        out += options[i].name;
    }
    return out;
}

std::string config_problem(std::string_view text, std::span<const ConfigOption> options) {
    const std::vector<std::string_view> words = words_of(text);
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string word(words[i]);
        const ConfigOption* option = find_option(options, words[i]);
        if (option == nullptr)
            return text_format("%s: %s; the options are %s", word.c_str(),
                               word.starts_with('-') ? "unknown option" : "not an option",
                               config_option_names(options).c_str());
        // A value that is itself an option's name means the value was left out.
        if (i + 1 >= words.size() || find_option(options, words[i + 1]) != nullptr)
            return text_format("%s needs a value: %s", word.c_str(), allowed(*option).c_str());
        std::string problem = value_problem(*option, words[++i]);
        if (!problem.empty())
            return problem;
    }
    return {};
}
