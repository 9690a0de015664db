#include "encoder/driver.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "common/output_file.h"
#include "common/owner_name.h"
#include "common/platform.h"
#include "common/program.h"
#include "common/text_format.h"
#include "common/wav.h"
#include "encoder/config.h"
#include "encoder/encoder_channel.h"
#include "encoder/modulator.h"
#include "encoder/read_ahead.h"
#include "encoder/readability.h"
#include "verify/verify.h"

namespace {

// Reads the file just written back through the decoder's chain: "N of M packets readable",
// or why it could not be read.
std::string verify_output(const std::string& path, const EncoderConfig& config,
                          const std::string& owner_name, const std::string& payload,
                          int32_t written) {
    const std::string decoder_configuration =
        text_format(" -layer %s -rawbr %.9g", config.private_layer ? "private" : "public",
                    static_cast<double>(config.chip_rate));
    const std::optional<VerifyResult> result =
        verify_marked_file(path, decoder_configuration, owner_name, payload);
    if (!result)
        return "the written file could not be read back";
    return text_format("%d of %d packets readable", result->readable, written);
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
std::optional<int> encode_frames(ProgramRun& run, WavStream& in, PlanarAudio& audio,
                                 std::vector<EncoderChannelPtr>& encoders,
                                 const std::string& payload) {
    const int32_t rate = in.rate;
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
            return program_fail_internal(run, failed);
        add_to_peak(audio, block);
        for (size_t c = 0; c < channels.size(); ++c) {
            run.packets += begun[c];
            audio.positions[c] += block;
        }
        audio.frames_read += block;
        program_frame_done(run, got);
    } while (got == rate);
    return {};
}

// Why the output cannot be written as a WAV file, or empty: its audio would pass the 4 GiB
// that the header's sizes can count, so the write would fail at the very end.
std::string output_too_large(const WavStream& in) {
    // A pipe that declares no length is counted as it is read.
    if (in.streamed && in.frames == std::numeric_limits<int32_t>::max())
        return {};
    const uint64_t bytes =
        static_cast<uint64_t>(in.frames) * static_cast<uint64_t>(in.channels) * 2;
    if (bytes <= kMaxWavDataBytes)
        return {};
    return text_format("The output would hold %llu bytes of audio, more than the 4 GiB a WAV "
                       "file can hold: cut the input into shorter pieces.",
                       static_cast<unsigned long long>(bytes));
}

// Why the audio read cannot be trusted, or empty: the input ended before the frames its header
// and size promised, so it changed (was cut or rewritten) while it was read.
std::string input_shrank(const WavStream& in, size_t frames_read) {
    if (frames_read >= static_cast<size_t>(in.frames) ||
        (in.streamed && in.frames == std::numeric_limits<int32_t>::max()))
        return {};
    return text_format("The input %s ended after %zu of its %d frames: it changed while it was "
                       "read. Nothing was written.",
                       in.path.c_str(), frames_read, static_cast<int>(in.frames));
}

int encode(const CommandLine& line, ProgramRun& run) {
    const std::string& input = line.input;
    const std::string& output = line.output;

    std::string problem;
    const std::optional<std::string> normalized = payload_normalize(line.payload, problem);
    if (!normalized)
        return fail(run, ExitCode::Usage, problem + "\n", problem);
    const std::string& payload = *normalized;

    WavRefusal refusal;
    WavStreamPtr in = wav_open_read(input, &refusal);
    if (!in)
        return program_fail_open_input(run, input, refusal);
    const int32_t rate = in->rate;
    if (!program_rate_accepted(run.program, rate))
        return program_fail_rate(run, rate);
    if (in->channels > kMaxChannels)
        return program_fail_channels(run, input, in->channels);

    // Declared before the stream so that the stream is closed before its file is removed.
    PendingOutput pending;
    const std::string open_failure = text_format("Failure to open %s for writing.", output.c_str());
    if (input != "-" && output != "-" && same_file(input, output))
        return fail(run, ExitCode::OpenOutput,
                    open_failure + "\nThe output file is the input file: choose another name.\n",
                    open_failure);
    if (const std::string too_large = output_too_large(*in); !too_large.empty())
        return fail(run, ExitCode::OpenOutput, open_failure + "\n" + too_large + "\n",
                    open_failure);
    if (!pending.create(output))
        return fail(run, ExitCode::OpenOutput, open_failure + "\n" + pending.problem() + "\n",
                    open_failure);
    WavStreamPtr out =
        wav_open_write(path_to_utf8(pending.temp_path()), in->channels, 16, rate, &in->metadata);
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
        return program_fail_buffers(run);
    }
    for (size_t c = 0; c < channels; ++c)
        audio.starts[c] = audio.positions[c] = audio.block.get() + c * frames;

    std::vector<EncoderChannelPtr> encoders;
    try {
        encoders.reserve(channels);
    } catch (const std::bad_alloc&) {
        return program_fail_channel_array(run);
    }

    // A private layer needs an owner name that can key it; say why when it cannot.
    const std::string& configuration = line.configuration;
    const std::string owner_name = owner_name_lookup(line.name.c_str());
    if (const std::optional<EncoderConfig> config = encoder_config_parse(configuration, owner_name);
        config && config->private_layer) {
        const std::string owner_problem = owner_name_problem(owner_name);
        if (!owner_problem.empty())
            return program_fail_configure(run, 0, configuration, owner_problem);
    }
    for (size_t c = 0; c < channels; ++c) {
        encoders.push_back(encoder_create(rate, configuration, owner_name));
        // Every channel has the configuration of the first: only memory can fail the others.
        if (!encoders.back() && c > 0)
            return program_fail_channel_memory(run, static_cast<int32_t>(c));
        if (!encoders.back())
            return program_fail_configure(run, static_cast<int32_t>(c), configuration, "");
    }

    // With the output on standard output the result lines go to standard error.
    std::FILE* const results = output == "-" ? stderr : stdout;
    std::fprintf(results, "\"%s\" + (%s) => \"%s\"\n", input.c_str(), payload.c_str(),
                 output.c_str());
    std::fflush(results);
    program_frames_begin(run, in->frames, rate);
    if (const std::optional<int> failure = encode_frames(run, *in, audio, encoders, payload))
        return *failure;
    if (const std::string shrank = input_shrank(*in, audio.frames_read); !shrank.empty())
        return fail(run, ExitCode::OpenInput, "\n" + shrank + "\n", shrank);

    program_frames_end(run);
    program_say(run, "Writing audio output to disk...\n");
    program_log(run, 100, "Audio clipping prevention...");
    const std::optional<float> peak = audio.peak;
    if (!peak)
        return fail(run, ExitCode::ChannelFailure,
                    "The watermarked audio is out of range: choose a smaller gain.\n",
                    "Encoder internal error");
    program_log(run, 100, "Writing audio output to disk...");

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
    // Chunks after the audio of a pipe are known only now that it has been read.
    out->metadata.chunks = in->metadata.chunks;
    const int32_t chunks_dropped = in->metadata.chunks_dropped;
    wav_close(in.release());
    if (!wav_close(out.release()))
        return fail(run, ExitCode::OpenOutput, write_failure + "\n", write_failure);
    encoders.clear();
    run.speed = program_speed(run);

    std::string created = text_format("A watermarked file named: %s was created.", output.c_str());
    const std::optional<EncoderConfig> config = encoder_config_parse(configuration, owner_name);
    const std::string verified = line.verify
                                     ? verify_output(path_to_utf8(pending.temp_path()), *config,
                                                     owner_name, payload, run.packets)
                                     : std::string();
    if (!pending.commit())
        return fail(run, ExitCode::OpenOutput, write_failure + "\n", write_failure);
    std::fputs(pending.notes().c_str(), stderr);
    std::fprintf(results, "-> %d packets encoded at an average of %.1fx\n", run.packets, run.speed);
    if (!verified.empty()) {
        std::fprintf(results, "-> %s\n", verified.c_str());
        created += "\n" + verified;
    }
    ReadabilityFacts facts;
    facts.rate = rate;
    facts.frames = static_cast<int64_t>(audio.frames_read);
    facts.peak = *peak;
    facts.gain = config->gain;
    facts.chip_rate = config->chip_rate;
    facts.time_stamps = config->add_time_stamp != 0;
    facts.payload_digits = payload.size();
    std::vector<std::string> warnings = encoder_readability_warnings(facts);
    if (chunks_dropped > 0)
        warnings.push_back(text_format("%d chunks of the input were not copied: together with "
                                       "the others they pass the %zu MiB kept",
                                       chunks_dropped, kWavKeptChunkBytes / (1024 * 1024)));
    for (const std::string& warning : warnings) {
        program_warn(warning);
        created += "\nWarning: " + warning;
    }
    program_log(run, 1000, created.c_str());
    return static_cast<int>(ExitCode::Ok);
}

} // namespace

int encoder_run(int argc, char** argv) noexcept {
    return program_main(Program::Encoder, argc, argv, encoder_help_text(), encoder_config_options(),
                        encode);
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
