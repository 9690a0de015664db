#include "common/program.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <span>

#include "common/output_file.h"
#include "common/progress_log.h"
#include "common/signal_cleanup.h"
#include "common/text_format.h"
#include "common/version.h"

namespace {

constexpr std::array<int32_t, 5> kEncoderRates = {22050, 24000, 32000, 44100, 48000};
constexpr std::array<int32_t, 7> kDecoderRates = {11025, 16000, 22050, 24000, 32000, 44100, 48000};

// What tells the two programs apart.
struct Traits {
    const char* name;  // the program's own name, for a missing argv[0]
    const char* role;  // "encoder": the banner and the configuration failure
    const char* title; // "Encoder": internal errors and the channel array
    int files;         // words at the end of the command line
    std::span<const int32_t> rates;
};

Traits traits(Program program) {
    if (program == Program::Encoder)
        return {"vekmrkenc", "encoder", "Encoder", 3, kEncoderRates};
    return {"vekmrkdec", "decoder", "Decoder", 1, kDecoderRates};
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
               help_text + "\n";
    }
    return text_format("\nUsage: %s [options] <infile>\n", program_name.c_str()) +
           "       <infile>: input wav file\n"
           "\n[options]: " +
           help_text + "\n";
}

std::optional<CommandLine> program_command_line(Program program, int argc, char** argv) {
    const int files = traits(program).files;
    if (argc < files + 1)
        return {};
    CommandLine line;
    line.name = argv[0] != nullptr ? argv[0] : traits(program).name;
    line.input = argv[argc - files];
    if (program == Program::Encoder) {
        line.payload = argv[argc - 2];
        line.output = argv[argc - 1];
    }
    const int last_option = argc - files - 1;
    for (int i = 1; i <= last_option; ++i) {
        const std::string_view word = argv[i];
        if (word == "-logfile") {
            if (i == last_option)
                return {};
            line.log_path = argv[++i];
        } else {
            line.configuration += ' ';
            line.configuration += word;
        }
    }
    return line;
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

void program_log(const ProgramRun& run, int32_t status, const char* message) {
    write_log(run, status, run.packets, run.speed, message);
}

void program_frames_begin(ProgramRun& run, int32_t whole_seconds) {
    run.whole_seconds = whole_seconds;
    run.start = std::time(nullptr);
    std::fputs("000%", stderr);
    program_log(run, 0, nullptr);
}

void program_frame_done(ProgramRun& run) {
    ++run.frames_done;
    const int32_t percentage = progress_percentage(run.frames_done, run.whole_seconds);
    std::fprintf(stderr, "\b\b\b\b%.3d%%", percentage);
    run.speed = program_speed(run);
    program_log(run, percentage, nullptr);
}

double program_speed(const ProgramRun& run) {
    const double elapsed = std::difftime(std::time(nullptr), run.start);
    return elapsed > 0 ? static_cast<double>(run.frames_done) / elapsed
                       : static_cast<double>(run.frames_done);
}

int fail(const ProgramRun& run, ExitCode code, std::string_view console,
         const std::string& log_message, int32_t packets) {
    std::fwrite(console.data(), 1, console.size(), stderr);
    write_log(run, -static_cast<int32_t>(code), packets, 0.0, log_message.c_str());
    return static_cast<int>(code);
}

int program_fail_open_input(const ProgramRun& run, const std::string& path) {
    const std::string message = text_format("Failure to open %s for reading.", path.c_str());
    // The decoder's log message keeps the console's line feed, so an empty line follows it.
    return fail(run, ExitCode::OpenInput, message + "\n",
                run.program == Program::Decoder ? message + "\n" : message);
}

int program_fail_rate(const ProgramRun& run) {
    return fail(run, ExitCode::SampleRate, "", "This sampling rate is not supported");
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
    if (!owner_problem.empty()) {
        console += owner_problem;
        console += '\n';
    }
    return fail(run, ExitCode::ChannelFailure, console,
                text_format("Failure to configure the %s", role));
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
                 int (*body)(const CommandLine& line, ProgramRun& run)) noexcept {
    signal_cleanup_install();
    try {
        std::fputs(program_banner(program).c_str(), stderr);
        const std::optional<CommandLine> line = program_command_line(program, argc, argv);
        if (!line) {
            const char* name = argc > 0 && argv[0] != nullptr ? argv[0] : traits(program).name;
            std::fputs(program_usage(program, name, help).c_str(), stderr);
            return static_cast<int>(ExitCode::Usage);
        }
        const std::string clash = program_log_clash(*line);
        if (!clash.empty()) {
            std::fputs(clash.c_str(), stderr);
            return static_cast<int>(ExitCode::Usage);
        }
        if (const std::string problem = progress_log_problem(line->log_path); !problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            return static_cast<int>(ExitCode::Usage);
        }
        signal_cleanup_set_log(line->log_path, program == Program::Encoder
                                                   ? ProgressLogLayout::Encoder
                                                   : ProgressLogLayout::Decoder);
        ProgramRun run{program, line->log_path};
        return body(*line, run);
    } catch (const std::bad_alloc&) {
        std::fputs("\nOut of memory.\n", stderr);
        return static_cast<int>(ExitCode::NoMemory);
    } catch (...) {
        std::fprintf(stderr, "\n%s internal error.\n", traits(program).title);
        return static_cast<int>(ExitCode::ChannelFailure);
    }
}
