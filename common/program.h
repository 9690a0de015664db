#pragma once
// The frame both command-line programs share: banner and usage text, the command line and its
// "-logfile" rule, the accepted sampling rates, exit codes and the one failure path, progress
// on the console and in the progress log, and the catch around the whole run. A driver is its
// frame loop and the steps that are its own:
//
//   int encoder_run(int argc, char** argv) noexcept {
//       return program_main(Program::Encoder, argc, argv, encoder_help_text(), encode);
//   }
//   int encode(const CommandLine& line, ProgramRun& run) {   // after banner and command line
//       ...
//       if (!program_rate_accepted(run.program, rate)) return program_fail_rate(run);
//       program_frames_begin(run, whole_seconds);
//       do { ...; program_frame_done(run); } while (got == rate);

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

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
    std::string name;          // the program as invoked (the usage line shows it)
    std::string input;         // <infile>
    std::string payload;       // encoder: <hexPayload> as given
    std::string output;        // encoder: <outfile>
    std::string configuration; // every option word but "-logfile" and its value, each after a
                               // space
    std::string log_path;      // empty: no progress log
};

// The two banner lines, "Vek Audio Watermark command line encoder - Version 1.1" (or
// decoder, with the project's version) and the copyright line, each ending in a line feed.
std::string program_banner(Program program);

// The usage text that follows the banner: the usage line for `name`, the file arguments and
// the configuration help text `help`.
std::string program_usage(Program program, std::string_view name, std::string_view help);

// The files are the last words (encoder: <infile> <hexPayload> <outfile>; decoder: <infile>),
// the options the words before them: "-logfile" takes the next word as the log path, every
// other word is appended to the configuration after a space. Empty when the usage text is due:
// too few words, or "-logfile" as the last option word (its value would be a file's path).
std::optional<CommandLine> program_command_line(Program program, int argc, char** argv);

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

// One run's progress and reporting.
struct ProgramRun {
    Program program = Program::Encoder;
    std::string log_path;      // empty: no progress log
    int32_t packets = 0;       // packets on all channels so far
    int32_t frames_done = 0;   // passes of the frame loop
    int32_t whole_seconds = 0; // of the input: frames_done at 100 %
    double speed = 0.0;        // seconds of audio per second of wall-clock time
    std::time_t start = 0;     // when the frame loop began
};

// Writes a progress report in the program's layout with the run's packet count and speed;
// nothing without a log path.
void program_log(const ProgramRun& run, int32_t status, const char* message);

// Starts the speed clock, prints the figure "000%" and logs status 0.
void program_frames_begin(ProgramRun& run, int32_t whole_seconds);

// Counts a frame, prints its percentage over the previous figure, takes the speed and logs
// both.
void program_frame_done(ProgramRun& run);

// Frames done per elapsed second on a one-second wall clock; the frames done when no whole
// second has passed.
double program_speed(const ProgramRun& run);

// The only way out on failure: prints `console` on stderr (may be empty), writes -code,
// `packets` and `log_message` to the progress log when there is one, and returns the code.
[[nodiscard]] int fail(const ProgramRun& run, ExitCode code, std::string_view console,
                       const std::string& log_message, int32_t packets = 0);

// The failures both programs share, each with its console and log message.
[[nodiscard]] int program_fail_open_input(const ProgramRun& run, const std::string& path);
[[nodiscard]] int program_fail_rate(const ProgramRun& run);
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

// Installs the signal cleanup (common/signal_cleanup.h), prints the banner, reads the command
// line and runs `body` on it with a fresh ProgramRun; prints the usage text (ending with
// `help`) or the refusal of the log path (a file of the run, or a path that is not a regular
// file) instead, exit 1.
// Returns the exit code. What escapes `body` ends the run here: no memory with exit 3,
// anything else as an internal error with exit 4.
int program_main(Program program, int argc, char** argv, std::string_view help,
                 int (*body)(const CommandLine& line, ProgramRun& run)) noexcept;
