#include "decoder/driver.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <new>
#include <span>
#include <string_view>

#include "common/owner_name.h"
#include "common/platform.h"
#include "common/progress_log.h"
#include "common/text_format.h"
#include "common/wav.h"
#include "decoder/config.h"
#include "decoder/decoder_channel.h"
#include "decoder/detector.h"
#include "decoder/recovery.h"

namespace {

constexpr const char* kBanner = "Vek Audio Watermark command line decoder - Version 1.1\n";
constexpr const char* kCopyright = "Copyright (c) 2026 Vek Audio Watermark developers\n";
constexpr int32_t kAcceptedRates[] = {11025, 16000, 22050, 24000, 32000, 44100, 48000};

struct Driver {
    std::string log_path; // empty: no progress log
};

// The only way out on failure: prints `console` on stderr (may be empty), writes -code, the
// packet count and `log_message` to the progress log when there is one, returns the code.
[[nodiscard]] int fail(const Driver& run, ExitCode code, std::string_view console,
                       const char* log_message, int32_t packets = 0) {
    if (!console.empty())
        std::fwrite(console.data(), 1, console.size(), stderr);
    if (!run.log_path.empty()) {
        progress_log_write_decoder(run.log_path, -static_cast<int32_t>(code), packets, 0.0,
                                   log_message);
    }
    return static_cast<int>(code);
}

void print_usage(const char* program) {
    std::fprintf(stderr, "\nUsage: %s [options] <infile>\n", program);
    std::fprintf(stderr, "       <infile>: input wav file\n");
    std::fprintf(stderr, "\n[options]: %s\n", decoder_help_text());
}

bool rate_accepted(int32_t rate) {
    for (const int32_t accepted : kAcceptedRates) {
        if (rate == accepted)
            return true;
    }
    return false;
}

bool same_file(const std::string& a, const std::string& b) {
    if (a == b)
        return true;
    std::error_code error;
    return std::filesystem::equivalent(path_from_utf8(a), path_from_utf8(b), error) && !error;
}

double run_speed(int32_t frames_done, std::time_t start) {
    const double elapsed = std::difftime(std::time(nullptr), start);
    return elapsed > 0.0 ? static_cast<double>(frames_done) / elapsed
                         : static_cast<double>(frames_done);
}

int run(int argc, char** argv) {
    std::fputs(kBanner, stderr);
    std::fputs(kCopyright, stderr);
    const char* program = argc > 0 ? argv[0] : "vekmrkdec";
    const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::optional<DecoderArguments> args = decoder_arguments(words);
    if (!args) {
        print_usage(program);
        return static_cast<int>(ExitCode::Usage);
    }
    const Driver run{args->log_path};
    const std::string& input_path = args->input;
    const std::string& configuration = args->configuration;

    WavStreamPtr input = wav_open_read(input_path);
    if (!input) {
        const std::string message =
            text_format("Failure to open %s for reading.\n", input_path.c_str());
        return fail(run, ExitCode::OpenInput, message, message.c_str());
    }
    const int32_t rate = input->rate;
    const int32_t channels = input->channels;
    if (!rate_accepted(rate)) {
        return fail(run, ExitCode::SampleRate, "", "This sampling rate is not supported");
    }

    std::vector<float> block;
    std::vector<float*> planes;
    try {
        block.assign(static_cast<size_t>(channels) * static_cast<size_t>(rate), 0.0f);
        planes.resize(static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
        return fail(run, ExitCode::NoMemory, "Audio buffer memory allocation failure.\n",
                    "Audio buffer memory allocation failure");
    }
    for (size_t c = 0; c < planes.size(); ++c)
        planes[c] = block.data() + c * static_cast<size_t>(rate);

    std::vector<DecoderChannelPtr> decoders;
    try {
        decoders.reserve(static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
        return fail(run, ExitCode::NoMemory, "Decoder array memory allocation failure.\n",
                    "Decoder array memory allocation failure");
    }
    const std::string owner_name = owner_name_lookup(program);
    for (int32_t c = 0; c < channels; ++c) {
        DecoderChannelPtr decoder = decoder_create(rate, configuration, owner_name);
        if (!decoder) {
            std::string message =
                text_format("Failure to configure the decoder for channel# %d with:\n\t%s\n", c,
                            configuration.c_str());
            const std::optional<DecoderConfig> config = decoder_config_parse(configuration);
            const std::string problem = owner_name_problem(owner_name);
            if (config && config->layer == DecoderLayer::Private && !problem.empty()) {
                message += problem + "\n";
            }
            return fail(run, ExitCode::ChannelFailure, message, "Failure to configure the decoder");
        }
        decoders.push_back(std::move(decoder));
    }

    int32_t packets_total = 0;
    int32_t frames_done = 0;
    const int32_t whole_seconds = input->frames / rate;
    const std::time_t start = std::time(nullptr);
    InstanceSummary summary;
    std::fputs("000%", stderr);
    if (!run.log_path.empty())
        progress_log_write_decoder(run.log_path, 0, 0, 0.0, nullptr);

    std::vector<DecoderChannel*> channel_decoders;
    for (const DecoderChannelPtr& decoder : decoders)
        channel_decoders.push_back(decoder.get());
    const std::vector<const float*> frames(planes.begin(), planes.end());
    std::vector<int32_t> found(static_cast<size_t>(channels));

    double speed = 0.0;
    int32_t n = 0;
    do {
        n = wav_read_frames(*input, planes, rate);
        // All channels of the frame at once; the packets are then reported channel by channel.
        const int32_t failed =
            decoder_process_channels(channel_decoders, frames, static_cast<size_t>(n), found);
        for (int32_t c = 0; c < channels; ++c) {
            DecoderChannel& decoder = *decoders[static_cast<size_t>(c)];
            const int32_t k = c == failed ? -1 : found[static_cast<size_t>(c)];
            if (k < 0) {
                const std::string message =
                    text_format("\b\b\b\bDecoder internal error for channel# %d at frame# %d\n", c,
                                frames_done);
                return fail(run, ExitCode::ChannelFailure, message, "Decoder internal error",
                            packets_total);
            }
            packets_total += k;
            if (k == 0)
                continue;
            std::fputs("\b\b\b\b", stderr);
            for (int32_t i = 0; i < k; ++i) {
                const DecodedPacket& packet = decoder.packets[static_cast<size_t>(i)];
                summary_add(summary, packet);
                std::fputs(packet_line(packet).c_str(), stderr);
            }
            std::fputs("000%", stderr);
        }
        ++frames_done;
        std::fprintf(stderr, "\b\b\b\b%.3d%%", progress_percentage(frames_done, whole_seconds));
        if (!run.log_path.empty()) {
            speed = run_speed(frames_done, start);
            progress_log_write_decoder(run.log_path,
                                       progress_percentage(frames_done, whole_seconds),
                                       packets_total, speed, nullptr);
        }
    } while (n == rate);

    speed = run_speed(frames_done, start);
    std::fputs("\n", stderr);
    std::string entries;
    for (const SummaryEntry& entry : summary.entries)
        entries += summary_entry_line(entry);
    if (!run.log_path.empty()) {
        std::string report = text_format("%4d\n", 1000 + static_cast<int>(ExitCode::Ok));
        report += "Analysis summary for " + input_path + "\n";
        report +=
            text_format("%4d packet(s) decoded at an average of %.1fx\n", packets_total, speed);
        report += entries;
        progress_log_write_text(run.log_path, report);
    }
    std::printf("\"%s\"\n", input_path.c_str());
    std::fputs(entries.c_str(), stdout);
    std::printf("-> %d packet(s) decoded at an average of %.1fx\n", packets_total, speed);
    std::fflush(stdout);
    wav_close(input.release());
    decoders.clear();
    return static_cast<int>(ExitCode::Ok);
}

} // namespace

std::optional<DecoderArguments> decoder_arguments(const std::vector<std::string>& words) {
    if (words.empty())
        return std::nullopt;
    DecoderArguments args;
    args.input = words.back();
    const size_t options = words.size() - 1;
    for (size_t i = 0; i < options; ++i) {
        if (words[i] == "-logfile") {
            // Its value must be an option word: the input path would be overwritten by the log.
            if (i + 1 >= options)
                return std::nullopt;
            args.log_path = words[++i];
        } else {
            args.configuration += " " + words[i];
        }
    }
    if (!args.log_path.empty() && same_file(args.log_path, args.input))
        return std::nullopt;
    return args;
}

int decoder_run(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("\nOut of memory.\n", stderr);
        return static_cast<int>(ExitCode::NoMemory);
    }
}
