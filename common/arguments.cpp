#include "common/arguments.h"

#include "common/text_format.h"

namespace {

constexpr std::string_view kSeparators = " [](),\t\n";

bool is_configuration_option(const ArgumentRules& rules, std::string_view name) {
    for (const ConfigOption& option : rules.configuration) {
        if (option.name == name)
            return true;
    }
    return false;
}

bool is_program_option(const ArgumentRules& rules, std::string_view word) {
    return word == "-logfile" || word == "-q" || word == "-S" || word == "-h" || word == "--help" ||
           word == "--version" || (rules.verify && word == "-verify");
}

// "--gain=2" -> "-gain" when that is an option: the spelling of another program's options.
std::string likely_meant(const ArgumentRules& rules, std::string_view word) {
    const size_t first = word.find_first_not_of('-');
    if (first == std::string_view::npos)
        return {};
    std::string_view stem = word.substr(first);
    stem = stem.substr(0, stem.find('='));
    std::string name = "-";
    name += stem;
    if (!is_configuration_option(rules, name) && name != "-logfile" &&
        !(rules.verify && name == "-verify"))
        return {};
    const size_t equals = word.find('=');
    if (equals != std::string_view::npos) {
        name += ' ';
        name += word.substr(equals + 1);
    }
    return name;
}

std::string files_wanted(const ArgumentRules& rules) {
    return rules.files == 3 ? "three file arguments, <infile> <hexPayload> <outfile>"
                            : "one or more input files";
}

} // namespace

std::string arguments_option_names(const ArgumentRules& rules) {
    std::string names;
    for (const ConfigOption& option : rules.configuration)
        names += std::string(option.name) + ", ";
    names += "-logfile, ";
    if (rules.verify)
        names += "-verify, ";
    return names + "-q, -S, -h, --help and --version";
}

bool arguments_parse(std::span<const std::string_view> words, const ArgumentRules& rules,
                     Arguments& a, std::string& problem) {
    a = Arguments{};
    problem.clear();
    bool options_ended = false;
    bool value_due = false; // the configuration option just read still wants its value
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string_view word = words[i];
        const bool has_next = i + 1 < words.size();
        if (value_due && !options_ended && !is_program_option(rules, word) &&
            !is_configuration_option(rules, word.substr(0, word.find_first_of(kSeparators)))) {
            // The value, whatever else it looks like: "-gain -2" is a negative gain.
            a.configuration += ' ';
            a.configuration += word;
            value_due = false;
        } else if (options_ended || word == "-" || !word.starts_with('-')) {
            a.files.emplace_back(word);
        } else if (word == "--") {
            options_ended = true;
        } else if (word == "-h" || word == "--help") {
            a.help = true;
        } else if (word == "--version") {
            a.version = true;
        } else if (word == "-q") {
            a.quiet = true;
        } else if (word == "-S") {
            a.show_progress = true;
        } else if (word == "-verify" && rules.verify) {
            a.verify = true;
        } else if (word == "-logfile") {
            if (!has_next) {
                if (problem.empty())
                    problem = "-logfile needs a value: the path of the progress log file";
                continue;
            }
            a.log_path = words[++i];
        } else {
            // A configuration option, alone ("-gain 2") or with its value in the grammar's
            // brackets ("-gain(2)"); the value is checked with the whole configuration, and a
            // program option may stand between the name and its value.
            const std::string_view name = word.substr(0, word.find_first_of(kSeparators));
            if (!is_configuration_option(rules, name)) {
                if (problem.empty()) {
                    const std::string meant = likely_meant(rules, word);
                    problem = std::string(word) + ": unknown option; " +
                              (meant.empty() ? "the options are " + arguments_option_names(rules)
                                             : "did you mean " + meant + "?");
                }
                continue;
            }
            a.configuration += ' ';
            a.configuration += word;
            value_due = word.find_first_not_of(kSeparators, name.size()) == std::string_view::npos;
        }
    }
    if (a.help || a.version) {
        problem.clear();
        return true;
    }
    if (!problem.empty())
        return false;
    const bool count_ok =
        rules.files == 0 ? !a.files.empty() : a.files.size() == static_cast<size_t>(rules.files);
    if (!count_ok) {
        std::string given;
        for (const std::string& file : a.files)
            given += " " + file;
        problem = text_format("%s wanted, %zu given%s%s", files_wanted(rules).c_str(),
                              a.files.size(), a.files.empty() ? "" : ":", given.c_str());
        return false;
    }
    return true;
}
