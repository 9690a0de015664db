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
#include "encoder/pipeline.h"
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

    const auto channels = static_cast<size_t>(in->channels);
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
        encoders.push_back(c == 0 ? encoder_create(rate, configuration, owner_name)
                                  : encoder_create_sibling(*encoders.front()));
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
    EncodePipeline pipeline(
        *in, *out, encoders, payload,
        [&] { return encoder_create(rate, configuration, owner_name); },
        {pipeline_threads(in->channels), path_to_utf8(pending.temp_path().parent_path())});
    // Called on one of the pipeline's threads, once per frame, in order.
    const PipelineOutcome first =
        pipeline.first_pass([&run](int32_t, int32_t packets, int32_t frames_read) {
            run.packets = packets;
            program_frame_done(run, frames_read);
        });
    const std::string write_failure = text_format("Failure to write %s.", output.c_str());
    if (first.failure == PipelineFailure::Channel) {
        run.frames_done = first.failed_frame;
        return program_fail_internal(run, first.failed_channel);
    }
    if (first.failure == PipelineFailure::NoMemory)
        return program_fail_buffers(run);
    if (first.failure != PipelineFailure::None)
        return fail(run, ExitCode::OpenOutput, "\n" + write_failure + "\n", write_failure);
    if (const std::string shrank = input_shrank(*in, static_cast<size_t>(pipeline.frames_read()));
        !shrank.empty())
        return fail(run, ExitCode::OpenInput, "\n" + shrank + "\n", shrank);

    program_frames_end(run);
    program_say(run, "Writing audio output to disk...\n");
    program_log(run, 100, "Audio clipping prevention...");
    const std::optional<float> peak = pipeline.peak();
    if (!peak)
        return fail(run, ExitCode::ChannelFailure,
                    "The watermarked audio is out of range: choose a smaller gain.\n",
                    "Encoder internal error");
    program_log(run, 100, "Writing audio output to disk...");

    // Scales the output when the peak passes full scale: a second pass.
    const PipelineOutcome second = pipeline.finish();
    if (second.failure == PipelineFailure::NoMemory)
        return program_fail_buffers(run);
    if (second.failure == PipelineFailure::InputChanged)
        return fail(run, ExitCode::OpenInput,
                    text_format("The input %s changed while it was read. Nothing was written.\n",
                                input.c_str()),
                    text_format("Failure to open %s for reading.", input.c_str()));
    if (second.failure != PipelineFailure::None)
        return fail(run, ExitCode::OpenOutput, write_failure + "\n", write_failure);
    if (*peak > 1.0f)
        std::fprintf(stderr,
                     "-> Potential clipping detected; %.2f attenuation applied to the output.\n",
                     static_cast<double>(clipping_attenuation(*peak)));

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
    // Reading back takes about as long as a decode: a reader of the log sees why it waits.
    if (line.verify)
        program_log(run, 100, "Reading the mark back...");
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
    facts.frames = pipeline.frames_read();
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
