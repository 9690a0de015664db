#pragma once
// The vekmrkdec program: command line, frame loop over all channels, per-packet lines,
// progress log and closing report. main() only calls decoder_run.

#include <optional>
#include <string>
#include <vector>

enum class ExitCode : int {
    Ok = 0,
    Usage = 1,
    NoMemory = 3,
    ChannelFailure = 4,
    OpenInput = 10,
    SampleRate = 11
};

// The words of a command line after the program name, split into the input path, the progress
// log path (empty without "-logfile") and the configuration text (" word" per option word).
struct DecoderArguments {
    std::string input;
    std::string log_path;
    std::string configuration;
};

// Empty when the command line cannot be used: no words, or "-logfile" without a value of its
// own among the option words (it would take the input path) or naming the input itself.
std::optional<DecoderArguments> decoder_arguments(const std::vector<std::string>& words);

// Runs the decoder; returns the process exit code.
int decoder_run(int argc, char** argv);
