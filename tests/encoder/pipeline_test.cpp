#include "encoder/pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "encoder/modulator.h"
#include "tests/support/files.h"
#include "tests/support/wav_fixture.h"

namespace {

constexpr const char* kPayload = "0123ABCD";
constexpr const char* kConfiguration = " -addts 1";

struct Encoded {
    PipelineOutcome outcome;
    std::optional<float> peak;
    int32_t packets = 0;
    int32_t frames_done = 0;
    std::string bytes; // the output file
};

// Encodes `input` into `output` through the pipeline on `threads` threads; with `through_pipe`
// the input's samples arrive through a pipe, which cannot seek, as standard input would;
// `keep_marked` as in PipelineOptions.
Encoded encode(const std::string& input, const std::string& output, int32_t threads,
               bool through_pipe = false, bool keep_marked = true) {
    Encoded result;
    WavStreamPtr in = wav_open_read(input);
    EXPECT_TRUE(in);
    if (!in)
        return result;
    std::thread feeder;
    if (through_pipe) {
        // The rest of the file, from the first sample on, goes through the pipe.
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        std::FILE* file = in->file;
        in->file = ::fdopen(ends[0], "rb");
        feeder = std::thread([file, write_end = ends[1]] {
            char buffer[4096];
            for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
                if (::write(write_end, buffer, got) != static_cast<ssize_t>(got))
                    break;
            ::close(write_end);
            std::fclose(file);
        });
    }
    WavStreamPtr out = wav_open_write(output, in->channels, 16, in->rate);
    EXPECT_TRUE(out);
    const int32_t rate = in->rate;
    auto make = [rate] { return encoder_create(rate, kConfiguration, ""); };
    std::vector<EncoderChannelPtr> channels;
    for (int32_t c = 0; c < in->channels; ++c)
        channels.push_back(make());
    {
        EncodePipeline pipeline(
            *in, *out, channels, kPayload, make,
            {threads, std::filesystem::path(output).parent_path(), keep_marked});
        result.outcome = pipeline.first_pass([&](int32_t frames_done, int32_t packets, int32_t) {
            EXPECT_EQ(frames_done, result.frames_done + 1);
            result.frames_done = frames_done;
            result.packets = packets;
        });
        result.peak = pipeline.peak();
        if (result.outcome.failure == PipelineFailure::None && result.peak)
            result.outcome = pipeline.finish();
        EXPECT_EQ(pipeline.packets(), result.packets);
    }
    if (feeder.joinable())
        feeder.join();
    EXPECT_TRUE(wav_close(out.release()));
    result.bytes = fixture::read_file(output);
    return result;
}

// The straightforward encoder: the whole input in memory, each channel encoded one second at a
// time, the peak taken over everything, the output written at once.
std::string encode_in_memory(const std::string& input, const std::string& output) {
    WavStreamPtr in = wav_open_read(input);
    const auto frames = static_cast<size_t>(in->frames);
    std::vector<std::vector<float>> audio(static_cast<size_t>(in->channels),
                                          std::vector<float>(frames));
    std::vector<float*> planes;
    for (std::vector<float>& channel : audio)
        planes.push_back(channel.data());
    EXPECT_EQ(wav_read_frames(*in, planes, in->frames), in->frames);
    float peak = 0.0f;
    for (std::vector<float>& channel : audio) {
        EncoderChannelPtr encoder = encoder_create(in->rate, kConfiguration, "");
        for (size_t at = 0; at <= frames; at += static_cast<size_t>(in->rate)) {
            const size_t n = std::min(frames - at, static_cast<size_t>(in->rate));
            EXPECT_GE(encoder_process(*encoder, std::span<float>(channel.data() + at, n), kPayload),
                      0);
        }
        peak = std::max(peak, audio_peak(channel).value_or(0.0f));
    }
    WavStreamPtr out = wav_open_write(output, in->channels, 16, in->rate);
    const std::vector<const float*> sources(planes.begin(), planes.end());
    EXPECT_TRUE(wav_write_frames(*out, sources, clipping_attenuation(peak), in->frames));
    EXPECT_TRUE(wav_close(out.release()));
    return fixture::read_file(output);
}

// 2.5 s of quiet music, then 1 s of loud noise that clips once marked.
fixture::WavData quiet_then_loud(int32_t rate, int32_t channels) {
    fixture::WavData data =
        fixture::generate(fixture::settings(rate, channels, 2.5, fixture::Signal::Music, 0.3, 20));
    const fixture::WavData loud =
        fixture::generate(fixture::settings(rate, channels, 1.0, fixture::Signal::Noise, 0.98, 21));
    data.samples.insert(data.samples.end(), loud.samples.begin(), loud.samples.end());
    return data;
}

class Pipeline : public ::testing::Test {
protected:
    fixture::TempDir dir;
};

// Three channels of quiet music that turn into loud noise after 2.5 s: the peak passes full
// scale in the third block, so the output is rescaled from the blocks kept as floats (or, when
// only the blocks from the clipping one on are kept, the first two blocks are encoded again).
// Any number of threads, and an input that arrives through a pipe, give the bytes of the
// straightforward encoder.
TEST_F(Pipeline, ClippingInputGivesTheBytesOfTheInMemoryEncoder) {
    const std::string input = dir.file("in.wav");
    ASSERT_TRUE(fixture::write_wav(input, quiet_then_loud(44100, 3)));
    const std::string expected = encode_in_memory(input, dir.file("expected.wav"));
    ASSERT_EQ(expected.size(), 44u + 3u * 2u * 154350u);

    for (const int32_t threads : {1, 2, 3, 5}) {
        SCOPED_TRACE(threads);
        const Encoded run = encode(input, dir.file("out.wav"), threads);
        EXPECT_EQ(run.outcome.failure, PipelineFailure::None);
        EXPECT_GT(run.peak.value_or(0.0f), 1.0f);
        EXPECT_EQ(run.frames_done, 4); // three whole seconds and the short rest
        EXPECT_TRUE(run.bytes == expected);
    }
    for (const bool through_pipe : {false, true}) {
        const Encoded again = encode(input, dir.file("again.wav"), 2, through_pipe, false);
        EXPECT_EQ(again.outcome.failure, PipelineFailure::None);
        EXPECT_TRUE(again.bytes == expected);
    }
    const Encoded piped = encode(input, dir.file("piped.wav"), 2, true);
    EXPECT_EQ(piped.outcome.failure, PipelineFailure::None);
    EXPECT_TRUE(piped.bytes == expected);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              5);
}

// Twelve channels on threads do not fit the buffers one second at a time: each second is cut
// into shorter blocks, which must give the bytes of one-second blocks.
TEST_F(Pipeline, ManyChannelsGiveTheBytesOfTheInMemoryEncoder) {
    const std::string input = dir.file("in.wav");
    ASSERT_TRUE(fixture::write_wav(input, quiet_then_loud(22050, 12)));
    const std::string expected = encode_in_memory(input, dir.file("expected.wav"));
    for (const int32_t threads : {2, 3}) {
        SCOPED_TRACE(threads);
        const Encoded run = encode(input, dir.file("out.wav"), threads);
        EXPECT_EQ(run.outcome.failure, PipelineFailure::None);
        EXPECT_EQ(run.frames_done, 4);
        EXPECT_TRUE(run.bytes == expected);
    }
}

// Quiet music needs one pass; through a pipe it gives the same bytes too.
TEST_F(Pipeline, QuietInputIsWrittenInOnePass) {
    const std::string input = dir.file("quiet.wav");
    ASSERT_TRUE(
        fixture::write_wav(input, fixture::settings(48000, 2, 2.0, fixture::Signal::Music, 0.3)));
    const Encoded one = encode(input, dir.file("one.wav"), 1);
    ASSERT_EQ(one.outcome.failure, PipelineFailure::None);
    EXPECT_LE(*one.peak, 1.0f);
    EXPECT_EQ(one.frames_done, 3); // an input of whole seconds ends with an empty frame
    EXPECT_TRUE(one.bytes == encode_in_memory(input, dir.file("expected.wav")));
    const Encoded piped = encode(input, dir.file("piped.wav"), 2, true);
    EXPECT_TRUE(piped.bytes == one.bytes);
}

// An input that shrinks between the passes cannot give the output the first pass measured when
// the blocks before the clipping one are read again (they are when the marked blocks are not
// all kept).
TEST_F(Pipeline, InputThatChangesBeforeTheSecondPassIsAFailure) {
    const std::string input = dir.file("loud.wav");
    ASSERT_TRUE(fixture::write_wav(input, quiet_then_loud(32000, 1)));
    WavStreamPtr in = wav_open_read(input);
    ASSERT_TRUE(in);
    WavStreamPtr out = wav_open_write(dir.file("out.wav"), 1, 16, 32000);
    auto make = [] { return encoder_create(32000, "", ""); };
    std::vector<EncoderChannelPtr> channels;
    channels.push_back(make());
    EncodePipeline pipeline(*in, *out, channels, kPayload, make, {2, dir.path(), false});
    ASSERT_EQ(pipeline.first_pass({}).failure, PipelineFailure::None);
    ASSERT_GT(pipeline.peak().value_or(0.0f), 1.0f);
    std::filesystem::resize_file(input, 44 + 2 * 40000);
    EXPECT_EQ(pipeline.finish().failure, PipelineFailure::InputChanged);
}

TEST(ClippingPrevention, PeakIsTheLargestMagnitude) {
    EXPECT_EQ(audio_peak(std::vector<float>{}), 0.0f);
    EXPECT_EQ(audio_peak(std::vector<float>{0.25f, -1.25f, 1.0f, 0.5f}), 1.25f);
    EXPECT_EQ(audio_peak(std::vector<float>{0.0f, -0.0f}), 0.0f);
    // A sample that is not a number has no peak: the output could not be scaled.
    const float inf = std::numeric_limits<float>::infinity();
    EXPECT_FALSE(audio_peak(std::vector<float>{0.5f, std::numeric_limits<float>::quiet_NaN()}));
    EXPECT_FALSE(audio_peak(std::vector<float>{-inf, 0.5f}));
}

TEST(ClippingPrevention, AttenuatesOnlyAboveFullScale) {
    EXPECT_EQ(clipping_attenuation(1.25f), 0.8f);
    EXPECT_EQ(clipping_attenuation(2.0f), 0.5f);
    EXPECT_EQ(clipping_attenuation(1.0f), 1.0f); // exactly full scale is kept
    EXPECT_EQ(clipping_attenuation(0.3f), 1.0f);
    EXPECT_EQ(clipping_attenuation(0.0f), 1.0f);
}

} // namespace
