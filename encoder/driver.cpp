#include "encoder/driver.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <system_error>
#include <utility>
#include <vector>

#include "common/owner_name.h"
#include "common/platform.h"
#include "common/progress_log.h"
#include "common/text_format.h"
#include "common/wav.h"
#include "encoder/config.h"
#include "encoder/encoder_channel.h"
#include "encoder/modulator.h"
#include "encoder/read_ahead.h"

namespace fs = std::filesystem;

namespace {

// True when an existing file can be opened for writing (opened for update: nothing changes).
bool writable(const std::filesystem::path& path) {
    std::FILE* file = file_open_path(path, "r+b");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

constexpr int32_t kAcceptedRates[] = {22050, 24000, 32000, 44100, 48000};

// What one run knows about its command line and its progress.
struct Driver {
    std::string log_path; // empty: no progress log
    int32_t packets = 0;  // packets begun on all channels so far
    double speed = 0.0;   // seconds of audio per second of wall-clock time
};

void log_report(const Driver& run, int32_t status, const char* message) {
    if (!run.log_path.empty())
        progress_log_write(run.log_path, status, run.packets, run.speed, message);
}

// The only way out on failure: prints `console` on stderr (may be empty), reports -code and
// `log_message` to the progress log when there is one, and returns the code for main.
[[nodiscard]] int fail(const Driver& run, ExitCode code, std::string_view console,
                       const std::string& log_message) {
    std::fwrite(console.data(), 1, console.size(), stderr);
    if (!run.log_path.empty())
        progress_log_write(run.log_path, -static_cast<int32_t>(code), 0, 0.0, log_message.c_str());
    return static_cast<int>(code);
}

void print_banner() {
    std::fprintf(stderr, "Vek Audio Watermark command line encoder - Version 1.1\n");
    std::fprintf(stderr, "Copyright (c) 2026 Vek Audio Watermark developers\n");
}

void print_usage(const char* program) {
    std::fprintf(stderr, "\nUsage: %s [options] <infile> <hexPayload> <outfile>\n", program);
    std::fprintf(stderr, "       <infile>: input wav file\n");
    std::fprintf(stderr,
                 "       <hexPayload>: hexadecimal user payload (padded to int. nb of bytes)\n");
    std::fprintf(stderr, "       <outfile>: output wav file\n");
    const std::string_view help = encoder_help_text();
    std::fprintf(stderr, "       [options]: %.*s\n", static_cast<int>(help.size()), help.data());
}

// True when both paths name one file: the same file through another spelling or a link, or,
// when either does not exist yet, the same place once both are spelled out in full.
bool same_file(const std::string& utf8_a, const std::string& utf8_b) {
    const fs::path a = path_from_utf8(utf8_a);
    const fs::path b = path_from_utf8(utf8_b);
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error))
        return fs::equivalent(a, b, error);
    const fs::path full_a = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error)
        return false;
    const fs::path full_b = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && full_a == full_b;
}

// The output is written into a temporary file beside the file it replaces, which is renamed over
// that file only once it is complete: a failed run leaves no half-written output and keeps an
// existing file of that name intact. The temporary file is removed unless committed.
class PendingOutput {
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput() {
        if (!temp_.empty()) {
            std::error_code error;
            fs::remove(temp_, error);
        }
    }

    // Picks the file to replace (the target of a link, so that the link survives) and creates an
    // empty temporary file with a fresh name in its folder. False when that is impossible: the
    // target is a folder or not writable, or the folder refuses new files.
    bool create(const std::string& output) {
        std::error_code error;
        target_ = path_from_utf8(output);
        if (fs::is_symlink(fs::symlink_status(target_, error)) && fs::exists(target_, error)) {
            target_ = fs::canonical(target_, error);
            if (error)
                return false;
        }
        const bool exists = fs::exists(target_, error);
        if (exists) {
            if (fs::is_directory(target_, error) || !writable(target_))
                return false;
            existing_permissions_ = fs::status(target_, error).permissions();
        }
        const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
        std::random_device entropy;
        std::mt19937_64 draw((static_cast<uint64_t>(entropy()) << 32) ^
                             static_cast<uint64_t>(std::time(nullptr)));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                folder / text_format(".%s.vekmrk-%08llx.tmp",
                                     path_to_utf8(target_.filename()).c_str(),
                                     static_cast<unsigned long long>(draw() & 0xFFFFFFFFu));
            // "x": fails when the name exists, so no other file is ever overwritten.
            std::FILE* file = file_open_path(candidate, "wbx");
            if (file != nullptr) {
                std::fclose(file);
                temp_ = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    const fs::path& temp_path() const { return temp_; }

    // Moves the complete temporary file over the target, with the permissions of the file it
    // replaces. False when the rename fails; the temporary file is then removed.
    bool commit() {
        std::error_code error;
        if (existing_permissions_)
            fs::permissions(temp_, *existing_permissions_, fs::perm_options::replace, error);
        fs::rename(temp_, target_, error);
        if (error)
            return false;
        temp_.clear();
        return true;
    }

private:
    fs::path target_;
    fs::path temp_;
    std::optional<fs::perms> existing_permissions_;
};

double current_speed(int32_t frames_done, std::time_t start) {
    const double elapsed = std::difftime(std::time(nullptr), start);
    return elapsed > 0 ? static_cast<double>(frames_done) / elapsed
                       : static_cast<double>(frames_done);
}

struct CommandLine {
    std::string input;
    std::string payload; // as given
    std::string output;
    std::string configuration; // every option word but "-logfile" and its value, each after a
                               // space
    std::string log_path;      // empty: no progress log
};

// The positional arguments are the last three words, the options the words before them. Empty
// when the usage text is due: fewer than three arguments, or "-logfile" as the last option word
// (its value would be the input path, and the log would be written over the input).
std::optional<CommandLine> read_command_line(int argc, char** argv) {
    if (argc < 4)
        return {};
    CommandLine line;
    line.input = argv[argc - 3];
    line.payload = argv[argc - 2];
    line.output = argv[argc - 1];
    const int last_option = argc - 4;
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

// The whole input in memory, planar: channel c occupies frames c*F ... c*F+F-1.
struct PlanarAudio {
    std::unique_ptr<float[]> block; // not zeroed: only frames read are ever used
    std::vector<float*> starts;     // first frame of each channel
    std::vector<float*> positions;  // where each channel's next block is read and encoded
    size_t frames_read = 0;
    // The largest absolute value watermarked so far, taken block by block while the block is
    // at hand; empty once a sample is not finite.
    std::optional<float> peak = 0.0f;
};

// Adds the block of every channel at its position to the audio's peak.
void add_to_peak(PlanarAudio& audio, size_t block) {
    for (size_t c = 0; c < audio.positions.size() && audio.peak; ++c) {
        const std::optional<float> channel_peak =
            audio_peak(std::span<const float>(audio.positions[c], block));
        if (!channel_peak || *channel_peak > *audio.peak)
            audio.peak = channel_peak;
    }
}

// The frame loop: reads one second at a time into the channels' positions and watermarks it,
// channel after channel, with progress on the console and in the log. Returns the exit code of
// a failure, or nothing.
std::optional<int> encode_frames(Driver& run, WavStream& in, PlanarAudio& audio,
                                 std::vector<EncoderChannelPtr>& encoders,
                                 const std::string& payload, std::time_t start,
                                 int32_t& frames_done) {
    const int32_t rate = in.rate;
    const int32_t whole_seconds = in.frames / rate;
    std::vector<EncoderChannel*> channels;
    for (const EncoderChannelPtr& encoder : encoders)
        channels.push_back(encoder.get());
    std::vector<int32_t> begun(channels.size());
    ReadAhead reader(in, audio.positions, rate, read_ahead_wanted());
    // One pass per second of audio; the last pass reads a short or empty block.
    int32_t got = 0;
    do {
        got = reader.next();
        const auto block = static_cast<size_t>(got);
        const int32_t failed =
            encoder_process_channels(channels, audio.positions, block, payload, begun);
        if (failed >= 0)
            return fail(run, ExitCode::ChannelFailure,
                        text_format("\b\b\b\bEncoder internal error for channel# %d at frame# %d\n",
                                    failed, frames_done),
                        "Encoder internal error");
        add_to_peak(audio, block);
        for (size_t c = 0; c < channels.size(); ++c) {
            run.packets += begun[c];
            audio.positions[c] += block;
        }
        audio.frames_read += block;
        ++frames_done;
        const int32_t percentage = progress_percentage(frames_done, whole_seconds);
        std::fprintf(stderr, "\b\b\b\b%.3d%%", percentage);
        run.speed = current_speed(frames_done, start);
        log_report(run, percentage, nullptr);
    } while (got == rate);
    return {};
}

int run_encoder(int argc, char** argv) {
    print_banner();
    Driver run;
    // The program as invoked: the usage line shows it, and the owner name may lie beside it.
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "vekmrkenc";
    const std::optional<CommandLine> line = read_command_line(argc, argv);
    if (!line) {
        print_usage(program);
        return static_cast<int>(ExitCode::Usage);
    }
    const std::string& input = line->input;
    const std::string& output = line->output;
    if (!line->log_path.empty()) {
        const char* clash = same_file(line->log_path, input)    ? "input"
                            : same_file(line->log_path, output) ? "output"
                                                                : nullptr;
        if (clash != nullptr) {
            std::fprintf(stderr, "The log file %s is the %s file: choose another log file.\n",
                         line->log_path.c_str(), clash);
            return static_cast<int>(ExitCode::Usage);
        }
        run.log_path = line->log_path;
    }

    std::string problem;
    const std::optional<std::string> normalized = payload_normalize(line->payload, problem);
    if (!normalized)
        return fail(run, ExitCode::Usage, problem + "\n", problem);
    const std::string& payload = *normalized;

    WavStreamPtr in = wav_open_read(input);
    if (!in) {
        const std::string message = text_format("Failure to open %s for reading.", input.c_str());
        return fail(run, ExitCode::OpenInput, message + "\n", message);
    }
    const int32_t rate = in->rate;
    if (std::find(std::begin(kAcceptedRates), std::end(kAcceptedRates), rate) ==
        std::end(kAcceptedRates))
        return fail(run, ExitCode::SampleRate, "", "This sampling rate is not supported");

    // Declared before the stream so that the stream is closed before its file is removed.
    PendingOutput pending;
    const std::string open_failure = text_format("Failure to open %s for writing.", output.c_str());
    if (same_file(input, output))
        return fail(run, ExitCode::OpenOutput,
                    open_failure + "\nThe output file is the input file: choose another name.\n",
                    open_failure);
    if (!pending.create(output))
        return fail(run, ExitCode::OpenOutput, open_failure + "\n", open_failure);
    WavStreamPtr out = wav_open_write(path_to_utf8(pending.temp_path()), in->channels, 16, rate);
    if (!out)
        return fail(run, ExitCode::OpenOutput, open_failure + "\n", open_failure);

    const auto frames = static_cast<size_t>(in->frames);
    const auto channels = static_cast<size_t>(in->channels);
    PlanarAudio audio;
    try {
        audio.block = std::make_unique_for_overwrite<float[]>(frames * channels);
        audio.starts.resize(channels);
        audio.positions.resize(channels);
    } catch (const std::bad_alloc&) {
        return fail(run, ExitCode::NoMemory, "Audio buffer memory allocation failure.\n",
                    "Audio buffer memory allocation failure");
    }
    for (size_t c = 0; c < channels; ++c)
        audio.starts[c] = audio.positions[c] = audio.block.get() + c * frames;

    std::vector<EncoderChannelPtr> encoders;
    try {
        encoders.reserve(channels);
    } catch (const std::bad_alloc&) {
        return fail(run, ExitCode::NoMemory, "Encoder array memory allocation failure.\n",
                    "Encoder array memory allocation failure");
    }

    // A private layer needs an owner name that can key it; say why when it cannot.
    const std::string& configuration = line->configuration;
    const std::string owner_name = owner_name_lookup(program);
    if (const std::optional<EncoderConfig> config = encoder_config_parse(configuration, owner_name);
        config && config->private_layer) {
        const std::string owner_problem = owner_name_problem(owner_name);
        if (!owner_problem.empty())
            return fail(
                run, ExitCode::ChannelFailure,
                text_format("Failure to configure the encoder for channel# %d with:\n\t%s\n", 0,
                            configuration.c_str()) +
                    owner_problem + "\n",
                "Failure to configure the encoder");
    }
    for (size_t c = 0; c < channels; ++c) {
        encoders.push_back(encoder_create(rate, configuration, owner_name));
        if (!encoders.back())
            return fail(
                run, ExitCode::ChannelFailure,
                text_format("Failure to configure the encoder for channel# %d with:\n\t%s\n",
                            static_cast<int>(c), configuration.c_str()),
                "Failure to configure the encoder");
    }

    const std::time_t start = std::time(nullptr);
    std::printf("\"%s\" + (%s) => \"%s\"\n", input.c_str(), payload.c_str(), output.c_str());
    std::fprintf(stderr, "000%%");
    log_report(run, 0, nullptr);
    int32_t frames_done = 0;
    if (const std::optional<int> failure =
            encode_frames(run, *in, audio, encoders, payload, start, frames_done))
        return *failure;

    std::fprintf(stderr, "\nWriting audio output to disk...\n");
    log_report(run, 100, "Audio clipping prevention...");
    const std::optional<float> peak = audio.peak;
    if (!peak)
        return fail(run, ExitCode::ChannelFailure,
                    "The watermarked audio is out of range: choose a smaller gain.\n",
                    "Encoder internal error");
    log_report(run, 100, "Writing audio output to disk...");

    const float attenuation = clipping_attenuation(*peak);
    const std::vector<const float*> sources(audio.starts.begin(), audio.starts.end());
    const std::string write_failure = text_format("Failure to write %s.", output.c_str());
    if (!wav_write_frames(*out, sources, attenuation, static_cast<int32_t>(audio.frames_read)))
        return fail(run, ExitCode::OpenOutput, write_failure + "\n", write_failure);
    if (*peak > 1.0f)
        std::fprintf(stderr,
                     "-> Potential clipping detected; %.2f attenuation applied to the output.\n",
                     static_cast<double>(attenuation));

    // The output replaces its target only once complete, so the summary is never printed for a
    // file that was not written.
    wav_close(in.release());
    if (!wav_close(out.release()) || !pending.commit())
        return fail(run, ExitCode::OpenOutput, write_failure + "\n", write_failure);
    encoders.clear();

    run.speed = current_speed(frames_done, start);
    std::printf("-> %d packets encoded at an average of %.1fx\n", run.packets, run.speed);
    const std::string created =
        text_format("A watermarked file named: %s was created.", output.c_str());
    log_report(run, 1000, created.c_str());
    return static_cast<int>(ExitCode::Ok);
}

} // namespace

int encoder_run(int argc, char** argv) noexcept {
    try {
        return run_encoder(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "\nOut of memory.\n");
        return static_cast<int>(ExitCode::NoMemory);
    } catch (...) {
        std::fprintf(stderr, "\nEncoder internal error.\n");
        return static_cast<int>(ExitCode::ChannelFailure);
    }
}

std::optional<std::string> payload_normalize(std::string_view text, std::string& problem) {
    if (text.empty()) {
        problem = text_format("The payload is empty: give 1 to %zu hexadecimal digits (0-9, A-F).",
                              kMaxPayloadDigits);
        return {};
    }
    if (text.size() > kMaxPayloadDigits) {
        problem = text_format("The payload has %zu digits: at most %zu hexadecimal digits fit.",
                              text.size(), kMaxPayloadDigits);
        return {};
    }
    std::string payload;
    payload.reserve(text.size() + 1);
    for (const char c : text) {
        if (c >= 'a' && c <= 'f') {
            payload += static_cast<char>(c - 'a' + 'A');
        } else if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) {
            payload += c;
        } else {
            problem = "The payload is not hexadecimal: use only the digits 0-9 and A-F.";
            return {};
        }
    }
    if (payload.size() % 2 != 0)
        payload += '0';
    return payload;
}

std::optional<float> audio_peak(std::span<const float> samples) noexcept {
    float peak = 0.0f;
    for (const float x : samples) {
        const float magnitude = std::fabs(x);
        if (!(magnitude <= std::numeric_limits<float>::max()))
            return {};
        if (magnitude > peak)
            peak = magnitude;
    }
    return peak;
}

float clipping_attenuation(float peak) noexcept {
    return peak > 1.0f ? 1.0f / peak : 1.0f;
}
