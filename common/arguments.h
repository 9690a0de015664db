#pragma once
// The words of a command line sorted into files, configuration words and program options, the
// way users of sox, flac and lame expect: options may stand before, between or after the file
// names; "--" ends the options; "-" alone is a file name (standard input or output); an
// unknown option word is refused by name, never passed on.
//
//   ArgumentRules rules{kEncoderOptions, true, 3};
//   Arguments a;
//   std::string problem;
//   if (!arguments_parse(words, rules, a, problem))
//       ... // `problem` names the word: "-gian: unknown option; the options are ..."
//
// Configuration options ("-gain 2", also "-gain(2)") are collected, each word after a space, as
// the configuration text the channels parse; their values are checked there. Program options:
// "-logfile <path>", "-q" (quiet), "-S" (progress figure even when standard error is not a
// terminal), "-verify" (where the rules allow it), "-h" / "--help", "--version".

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/config_check.h"

struct ArgumentRules {
    std::span<const ConfigOption> configuration; // the configuration options
    bool verify = false;                         // "-verify" is an option
    int files = 1;                               // file arguments wanted; 0: one or more
};

struct Arguments {
    std::vector<std::string> files; // in the order given
    std::string configuration;      // configuration words, each after a space
    std::string log_path;           // empty: no progress log
    bool help = false;              // -h, --help: the usage text on standard output
    bool version = false;           // --version
    bool quiet = false;             // -q: no banner, no progress figure
    bool show_progress = false;     // -S: the figure also when stderr is not a terminal
    bool verify = false;            // -verify
};

// Sorts the words that follow the program name into `a`. False when a word is refused or the
// number of file arguments is not the one wanted; `problem` then says which word and what would
// be right (one sentence, no line feed), and `a` holds what was read (the log path, to report
// the refusal there). "-h", "--help" and "--version" win over every problem.
bool arguments_parse(std::span<const std::string_view> words, const ArgumentRules& rules,
                     Arguments& a, std::string& problem);

// The program options' names as the usage text lists them, for messages.
std::string arguments_option_names(const ArgumentRules& rules);
