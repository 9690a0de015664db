#pragma once
// The frame both command-line programs share: banner and usage text, the command line (files
// and options in any order, -h/--help, --version, -q, -S, "-logfile"), the strict check of the
// configuration words, the accepted sampling rates, exit codes and the one failure path,
// progress on the console and in the progress log, and the catch around the whole run. A
// driver is its frame loop and the steps that are its own:
//
//   int encoder_run(int argc, char** argv) noexcept {
//       return program_main(Program::Encoder, argc, argv, encoder_help_text(),
//                           encoder_config_options(), encode);
//   }
//   int encode(const CommandLine& line, ProgramRun& run) {   // after banner and command line
//       ...
//       if (!program_rate_accepted(run.program, rate)) return program_fail_rate(run, rate);
//       program_frames_begin(run, in->frames, rate);
//       do { ...; program_frame_done(run, got); } while (got == rate);
//
// The progress figure ("000%" rewritten in place with backspaces) goes to standard error only
// when that is a terminal (or -S asks for it) and never with -q; the speed is seconds of audio
// per second on a monotonic clock.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/config_check.h"

struct WavRefusal;

enum class Program { Encoder, Decoder };

enum class ExitCode : int {
    Ok = 0,
    Usage = 1, // usage printed, or the payload or log path refused
    NoMemory = 3,
    ChannelFailure = 4, // bad configuration or a channel failing during the run
    OpenInput = 10,
    SampleRate = 11,
    OpenOutput = 20, // encoder: the output cannot be created or written
};

struct CommandLine {
    std::string name;                // the program as invoked (the usage line shows it)
    std::string input;               // <infile>; "-": standard input
    std::vector<std::string> inputs; // decoder: every <infile>, in order (input is the first)
    std::string payload;             // encoder: <hexPayload> as given
    std::string output;              // encoder: <outfile>; "-": standard output
    std::string configuration;       // the configuration words, each after a space
    std::string log_path;            // empty: no progress log
    bool quiet = false;              // -q: only warnings and failures on standard error
    bool show_progress = false;      // -S: the figure even when stderr is not a terminal
    bool verify = false;             // encoder -verify: read the written file back
    bool help = false;               // -h, --help
    bool version = false;            // --version
};

// The two banner lines, "Vek Audio Watermark command line encoder - Version 1.1" (or
// decoder, with the project's version) and the copyright line, each ending in a line feed.
std::string program_banner(Program program);

// The usage text that follows the banner: the usage line for `name`, the file arguments, the
// configuration help text `help` and the program options, each with its default.
std::string program_usage(Program program, std::string_view name, std::string_view help);

// Reads the words after the program name (arguments_parse) into `line`: files and options in
// any order; encoder files <infile> <hexPayload> <outfile>, decoder one or more <infile>. False
// when a word is refused or the files are not the ones wanted; `problem` then says why (one
// sentence) and `line` holds what was read (its log path).
bool program_command_line(Program program, int argc, char** argv,
                          std::span<const ConfigOption> options, CommandLine& line,
                          std::string& problem);

// Why the log path cannot be used, as a console line: it names the input or the encoder's
// output, which the log would be written over. Empty when it can be used.
std::string program_log_clash(const CommandLine& line);

// The most channels either program takes from an input: more than any recording has (a 7th
// order ambisonic recording has 64, a large multitrack 128). Memory grows with the channels,
// and a header claiming thousands of them is damage, not audio.
inline constexpr int32_t kMaxChannels = 256;

// The most bytes of audio a WAV file can hold: its RIFF size, 36 + the data size, is 32 bits.
inline constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFu - 36;

// True when the program handles input at `rate` Hz: the encoder 22050, 24000, 32000, 44100
// and 48000; the decoder 11025 and 16000 as well.
bool program_rate_accepted(Program program, int32_t rate) noexcept;

// Why `rate` is refused and what would be right: "This sampling rate is not supported: 96000 Hz;
// vekmrkenc reads 22050, 24000, 32000, 44100 and 48000 Hz (convert with sox in.wav -r 48000
// out.wav)".
std::string program_rate_problem(Program program, int32_t rate);

// One run's progress and reporting.
struct ProgramRun {
    Program program = Program::Encoder;
    std::string log_path;                        // empty: no progress log
    int32_t packets = 0;                         // packets on all channels so far
    int32_t frames_done = 0;                     // passes of the frame loop
    int32_t whole_seconds = 0;                   // of the input: frames_done at 100 %
    double speed = 0.0;                          // seconds of audio per second of wall-clock time
    bool quiet = false;                          // -q
    bool figure = false;                         // the progress figure is shown on standard error
    int32_t rate = 0;                            // sampling rate: frames per second of audio
    int64_t frames_read = 0;                     // sample frames processed so far
    std::chrono::steady_clock::time_point start; // when the frame loop began
};

// Writes a progress report in the program's layout with the run's packet count and speed;
// nothing without a log path.
void program_log(const ProgramRun& run, int32_t status, const char* message);

// Starts the speed clock for an input of `frames` sample frames at `rate` Hz (INT32_MAX: length
// unknown, no percentage), shows the figure "000%" and logs status 0.
void program_frames_begin(ProgramRun& run, int32_t frames, int32_t rate);

// Counts a frame of `frames_read` sample frames, shows its percentage over the previous figure
// (never above 100), takes the speed and logs both.
void program_frame_done(ProgramRun& run, int32_t frames_read);

// Seconds of audio processed per second elapsed, on a monotonic clock with sub-second
// resolution; the seconds of audio when no measurable time has passed.
double program_speed(const ProgramRun& run);

// Prints `text` on standard error unless the run is quiet.
void program_say(const ProgramRun& run, std::string_view text);

// Prints a line of results (a decoded packet) on standard error, erasing the progress figure
// first and showing it again after; nothing when the run is quiet.
void program_packet_line(const ProgramRun& run, std::string_view line);

// Ends the figure's line (when a figure is shown).
void program_frames_end(const ProgramRun& run);

// A warning: "Warning: " + text on standard error (also when quiet); the caller adds it to the
// log's final message.
void program_warn(std::string_view text);

// The only way out on failure: prints `console` on stderr (may be empty), writes -code,
// `packets` and `log_message` to the progress log when there is one, and returns the code.
[[nodiscard]] int fail(const ProgramRun& run, ExitCode code, std::string_view console,
                       const std::string& log_message, int32_t packets = 0);

// The failures both programs share, each with its console and log message.
// "Failure to open %s for reading." and, on the next line, the reason the reader gave.
[[nodiscard]] int program_fail_open_input(const ProgramRun& run, const std::string& path,
                                          const WavRefusal& refusal);
[[nodiscard]] int program_fail_rate(const ProgramRun& run, int32_t rate);
[[nodiscard]] int program_fail_buffers(const ProgramRun& run);
[[nodiscard]] int program_fail_channel_array(const ProgramRun& run);
// `owner_problem` (may be empty) says why the owner name cannot key the private layer.
[[nodiscard]] int program_fail_configure(const ProgramRun& run, int32_t channel,
                                         std::string_view configuration,
                                         std::string_view owner_problem);
// A channel that failed in the frame under way (counted in run.frames_done once done).
[[nodiscard]] int program_fail_internal(const ProgramRun& run, int32_t channel);
// An input with more than kMaxChannels channels: exit 10, with the count and the limit.
[[nodiscard]] int program_fail_channels(const ProgramRun& run, const std::string& path,
                                        int32_t channels);
// A channel object that could not be created for want of memory (the first channel was, with
// the same configuration): exit 3.
[[nodiscard]] int program_fail_channel_memory(const ProgramRun& run, int32_t channel);

// Installs the signal cleanup (common/signal_cleanup.h), prints the banner (not with -q), reads
// the command line and checks the configuration words against `options`, then runs `body` on it
// with a fresh ProgramRun and returns its exit code. Without words: banner and usage on standard
// error, exit 1. -h/--help: banner and usage on standard output, exit 0; --version: the banner
// on standard output, exit 0. A refused word: what is wrong and what would be right, exit 1 (a
// configuration value: exit 4, "Failure to configure the ..."), also in the log when the line
// named one; a log path that is a file of the run or not a regular file is refused, exit 1.
// What escapes `body` ends the run here: no memory with exit 3, anything else as an internal
// error with exit 4.
int program_main(Program program, int argc, char** argv, std::string_view help,
                 std::span<const ConfigOption> options,
                 int (*body)(const CommandLine& line, ProgramRun& run)) noexcept;
