#include "common/program.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <new>
#include <span>
#include <system_error>

#include "common/arguments.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "common/progress_log.h"
#include "common/signal_cleanup.h"
#include "common/text_format.h"
#include "common/version.h"
#include "common/wav.h"

namespace {

constexpr std::array<int32_t, 5> kEncoderRates = {22050, 24000, 32000, 44100, 48000};
constexpr std::array<int32_t, 7> kDecoderRates = {11025, 16000, 22050, 24000, 32000, 44100, 48000};

// What tells the two programs apart.
struct Traits {
    const char* name;  // the program's own name, for a missing argv[0]
    const char* role;  // "encoder": the banner and the configuration failure
    const char* title; // "Encoder": internal errors and the channel array
    std::span<const int32_t> rates;
};

Traits traits(Program program) {
    if (program == Program::Encoder)
        return {"vekmrkenc", "encoder", "Encoder", kEncoderRates};
    return {"vekmrkdec", "decoder", "Decoder", kDecoderRates};
}

// Writes one report in the program's layout.
void write_log(const ProgramRun& run, int32_t status, int32_t packets, double speed,
               const char* message) {
    if (run.log_path.empty())
        return;
    if (run.program == Program::Encoder)
        progress_log_write(run.log_path, status, packets, speed, message);
    else
        progress_log_write_decoder(run.log_path, status, packets, speed, message);
}

} // namespace

std::string program_banner(Program program) {
    return text_format("Vek Audio Watermark command line %s - Version %s\n", traits(program).role,
                       kVekmrkVersion) +
           "Copyright (c) 2026 Vek Audio Watermark developers\n";
}

std::string program_usage(Program program, std::string_view name, std::string_view help) {
    const std::string program_name(name);
    const std::string help_text(help);
    if (program == Program::Encoder) {
        return text_format("\nUsage: %s [options] <infile> <hexPayload> <outfile>\n",
                           program_name.c_str()) +
               "       <infile>: input wav file\n"
               "       <hexPayload>: hexadecimal user payload (padded to int. nb of bytes)\n"
               "       <outfile>: output wav file\n"
               "       [options]: " +
               help_text +
               "\n"
               "       Program options:\n"
               "\t-logfile <path>\tprogress log file (default: none)\n"
               "\t-verify\tread the written file back and print \"N of M packets readable\"\n"
               "\t-q\tquiet: only warnings and failures on standard error\n"
               "\t-S\tprogress figure even when standard error is not a terminal\n"
               "\t-h, --help\tthis text, on standard output\n"
               "\t--version\tthe version, on standard output\n"
               "       <infile> and <outfile> may be - for standard input and output;\n"
               "       options may also follow the files, and -- ends the options.\n"
               "\n";
    }
    return text_format("\nUsage: %s [options] <infile>...\n", program_name.c_str()) +
           "       <infile>: input wav file; several are read one after the other,\n"
           "       and - reads standard input\n"
           "\n[options]: " +
           help_text +
           "\n"
           "Program options:\n"
           "\t-logfile <path>\tprogress log file, for one <infile> (default: none)\n"
           "\t-q\tquiet: only warnings and failures on standard error\n"
           "\t-S\tprogress figure even when standard error is not a terminal\n"
           "\t-h, --help\tthis text, on standard output\n"
           "\t--version\tthe version, on standard output\n"
           "       Options may also follow the files, and -- ends the options.\n"
           "\n";
}

bool program_command_line(Program program, int argc, char** argv,
                          std::span<const ConfigOption> options, CommandLine& line,
                          std::string& problem) {
    std::vector<std::string_view> words;
    for (int i = 1; i < argc; ++i)
        words.emplace_back(argv[i] != nullptr ? argv[i] : "");
    const ArgumentRules rules{options, program == Program::Encoder,
                              program == Program::Encoder ? 3 : 0};
    Arguments a;
    const bool ok = arguments_parse(words, rules, a, problem);
    line = CommandLine{};
    line.name = argc > 0 && argv[0] != nullptr ? argv[0] : traits(program).name;
    line.configuration = a.configuration;
    line.log_path = a.log_path;
    line.quiet = a.quiet;
    line.show_progress = a.show_progress;
    line.verify = a.verify;
    line.help = a.help;
    line.version = a.version;
    if (!ok || a.help || a.version)
        return ok;
    if (program == Program::Encoder) {
        line.input = a.files[0];
        line.payload = a.files[1];
        line.output = a.files[2];
    } else {
        line.inputs = a.files;
        line.input = a.files[0];
    }
    return true;
}

std::string program_log_clash(const CommandLine& line) {
    if (line.log_path.empty())
        return {};
    const char* clash = same_file(line.log_path, line.input)                            ? "input"
                        : !line.output.empty() && same_file(line.log_path, line.output) ? "output"
                                                                                        : nullptr;
    if (clash == nullptr)
        return {};
    return text_format("The log file %s is the %s file: choose another log file.\n",
                       line.log_path.c_str(), clash);
}

bool program_rate_accepted(Program program, int32_t rate) noexcept {
    const std::span<const int32_t> rates = traits(program).rates;
    return std::find(rates.begin(), rates.end(), rate) != rates.end();
}

std::string program_rate_problem(Program program, int32_t rate) {
    const std::span<const int32_t> rates = traits(program).rates;
    std::string list;
    for (size_t i = 0; i < rates.size(); ++i) {
        if (i > 0)
            list += i + 1 == rates.size() ? " and " : ", ";
        list += std::to_string(rates[i]);
    }
    // The rate to convert to: the family's top rate above the range, the next one up otherwise.
    int32_t target = rate % 11025 == 0 ? 44100 : 48000;
    if (rate < rates.back()) {
        const auto above = std::upper_bound(rates.begin(), rates.end(), rate);
        target = above != rates.end() ? *above : rates.back();
    }
    return text_format("This sampling rate is not supported: %d Hz; %s reads %s Hz (convert "
                       "with sox in.wav -r %d out.wav)",
                       rate, traits(program).name, list.c_str(), target);
}

void program_log(const ProgramRun& run, int32_t status, const char* message) {
    write_log(run, status, run.packets, run.speed, message);
}

void program_frames_begin(ProgramRun& run, int32_t frames, int32_t rate) {
    run.rate = rate;
    // An input that does not declare its length (a pipe) has no percentage.
    run.whole_seconds = frames == std::numeric_limits<int32_t>::max() || rate <= 0
                            ? std::numeric_limits<int32_t>::max()
                            : frames / rate;
    run.frames_read = 0;
    run.start = std::chrono::steady_clock::now();
    if (run.figure)
        std::fputs("000%", stderr);
    program_log(run, 0, nullptr);
}

void program_frame_done(ProgramRun& run, int32_t frames_read) {
    ++run.frames_done;
    run.frames_read += frames_read;
    const int32_t percentage = progress_percentage(run.frames_done, run.whole_seconds);
    // The last pass of the loop is a short or empty second; the figure stops at 100.
    if (run.figure)
        std::fprintf(stderr, "\b\b\b\b%.3d%%", std::min(percentage, 100));
    run.speed = program_speed(run);
    program_log(run, percentage, nullptr);
}

void program_frames_end(const ProgramRun& run) {
    if (run.figure)
        std::fputs("\n", stderr);
}

double program_speed(const ProgramRun& run) {
    const double audio =
        run.rate > 0 ? static_cast<double>(run.frames_read) / static_cast<double>(run.rate) : 0.0;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - run.start;
    return elapsed.count() > 0.0 ? audio / elapsed.count() : audio;
}

void program_say(const ProgramRun& run, std::string_view text) {
    if (!run.quiet)
        std::fwrite(text.data(), 1, text.size(), stderr);
}

void program_packet_line(const ProgramRun& run, std::string_view line) {
    if (run.quiet)
        return;
    if (run.figure)
        std::fputs("\b\b\b\b", stderr);
    std::fwrite(line.data(), 1, line.size(), stderr);
    if (run.figure)
        std::fprintf(stderr, "%.3d%%",
                     std::min(progress_percentage(run.frames_done, run.whole_seconds), 100));
}

void program_warn(std::string_view text) {
    std::fprintf(stderr, "Warning: %.*s\n", static_cast<int>(text.size()), text.data());
}

int fail(const ProgramRun& run, ExitCode code, std::string_view console,
         const std::string& log_message, int32_t packets) {
    std::fwrite(console.data(), 1, console.size(), stderr);
    write_log(run, -static_cast<int32_t>(code), packets, 0.0, log_message.c_str());
    return static_cast<int>(code);
}

int program_fail_open_input(const ProgramRun& run, const std::string& path,
                            const WavRefusal& refusal) {
    std::string message = text_format("Failure to open %s for reading.", path.c_str());
    const std::string reason = wav_refusal_text(refusal);
    if (!reason.empty())
        message += "\n" + reason;
    // The decoder's log message keeps the console's line feed, so an empty line follows it.
    return fail(run, ExitCode::OpenInput, message + "\n",
                run.program == Program::Decoder ? message + "\n" : message);
}

int program_fail_rate(const ProgramRun& run, int32_t rate) {
    const std::string problem = program_rate_problem(run.program, rate);
    return fail(run, ExitCode::SampleRate, problem + "\n", problem);
}

int program_fail_buffers(const ProgramRun& run) {
    return fail(run, ExitCode::NoMemory, "Audio buffer memory allocation failure.\n",
                "Audio buffer memory allocation failure");
}

int program_fail_channel_array(const ProgramRun& run) {
    const std::string message =
        text_format("%s array memory allocation failure", traits(run.program).title);
    return fail(run, ExitCode::NoMemory, message + ".\n", message);
}

int program_fail_configure(const ProgramRun& run, int32_t channel, std::string_view configuration,
                           std::string_view owner_problem) {
    const char* role = traits(run.program).role;
    std::string console = text_format("Failure to configure the %s for channel# %d with:\n\t%.*s\n",
                                      role, static_cast<int>(channel),
                                      static_cast<int>(configuration.size()), configuration.data());
    std::string log_message = text_format("Failure to configure the %s", role);
    if (!owner_problem.empty()) {
        console += owner_problem;
        console += '\n';
        log_message += '\n';
        log_message += owner_problem;
    }
    return fail(run, ExitCode::ChannelFailure, console, log_message);
}

int program_fail_internal(const ProgramRun& run, int32_t channel) {
    const char* title = traits(run.program).title;
    // The encoder's failure reports carry no packet count; the decoder's carry those so far.
    return fail(run, ExitCode::ChannelFailure,
                text_format("\b\b\b\b%s internal error for channel# %d at frame# %d\n", title,
                            static_cast<int>(channel), static_cast<int>(run.frames_done)),
                text_format("%s internal error", title),
                run.program == Program::Decoder ? run.packets : 0);
}

int program_fail_channels(const ProgramRun& run, const std::string& path, int32_t channels) {
    const std::string message = text_format("Failure to open %s for reading.", path.c_str());
    const std::string reason =
        text_format("The file has %d channels; the programs take at most %d.",
                    static_cast<int>(channels), static_cast<int>(kMaxChannels));
    return fail(run, ExitCode::OpenInput, message + "\n" + reason + "\n", message + "\n" + reason);
}

int program_fail_channel_memory(const ProgramRun& run, int32_t channel) {
    const char* title = traits(run.program).title;
    return fail(run, ExitCode::NoMemory,
                text_format("%s array memory allocation failure (channel# %d).\n", title,
                            static_cast<int>(channel)),
                text_format("%s array memory allocation failure", title));
}

int program_main(Program program, int argc, char** argv, std::string_view help,
                 std::span<const ConfigOption> options,
                 int (*body)(const CommandLine& line, ProgramRun& run)) noexcept {
    signal_cleanup_install();
    try {
        const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : traits(program).name;
        const std::string usage = program_usage(program, name, help);
        std::string problem;
        CommandLine line;
        const bool read = program_command_line(program, argc, argv, options, line, problem);
        if (read && (line.help || line.version)) {
            std::fputs(program_banner(program).c_str(), stdout);
            if (line.help)
                std::fputs(usage.c_str(), stdout);
            return std::fflush(stdout) == 0 ? static_cast<int>(ExitCode::Ok)
                                            : static_cast<int>(ExitCode::Usage);
        }
        if (!line.quiet)
            std::fputs(program_banner(program).c_str(), stderr);
        if (argc <= 1) {
            std::fputs(usage.c_str(), stderr);
            return static_cast<int>(ExitCode::Usage);
        }
        if (!read) {
            // The refusal reaches the log too when the line named one that does not exist
            // yet: an existing file may be an input that -logfile took for its value.
            ProgramRun refused;
            refused.program = program;
            refused.log_path = line.log_path;
            std::error_code error;
            if (std::filesystem::exists(path_from_utf8(refused.log_path), error) || error ||
                !progress_log_problem(refused.log_path).empty())
                refused.log_path.clear();
            const char* stop = problem.ends_with('?') ? "" : ".";
            return fail(
                refused, ExitCode::Usage,
                text_format("%s%s\nRun %s --help for the options.\n", problem.c_str(), stop, name),
                problem);
        }
        const std::string clash = program_log_clash(line);
        if (!clash.empty()) {
            std::fputs(clash.c_str(), stderr);
            return static_cast<int>(ExitCode::Usage);
        }
        if (const std::string log_problem = progress_log_problem(line.log_path);
            !log_problem.empty()) {
            std::fprintf(stderr, "%s\n", log_problem.c_str());
            return static_cast<int>(ExitCode::Usage);
        }
        signal_cleanup_set_log(line.log_path, program == Program::Encoder
                                                  ? ProgressLogLayout::Encoder
                                                  : ProgressLogLayout::Decoder);
        ProgramRun run;
        run.program = program;
        run.log_path = line.log_path;
        if (line.inputs.size() > 1 && !line.log_path.empty()) {
            const std::string refusal =
                "-logfile follows one input file: give one <infile>, or run once per file";
            return fail(run, ExitCode::Usage, refusal + ".\n", refusal);
        }
        const std::string config_problem_text = config_problem(line.configuration, options);
        if (!config_problem_text.empty()) {
            const std::string message =
                text_format("Failure to configure the %s: %s", traits(program).role,
                            config_problem_text.c_str());
            return fail(run, ExitCode::ChannelFailure, message + ".\n", message);
        }
        run.quiet = line.quiet;
        run.figure = !line.quiet && (line.show_progress || terminal_stderr_is_terminal());
        return body(line, run);
    } catch (const std::bad_alloc&) {
        std::fputs("\nOut of memory.\n", stderr);
        return static_cast<int>(ExitCode::NoMemory);
    } catch (...) {
        std::fprintf(stderr, "\n%s internal error.\n", traits(program).title);
        return static_cast<int>(ExitCode::ChannelFailure);
    }
}
