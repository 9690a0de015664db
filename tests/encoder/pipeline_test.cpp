#include "encoder/pipeline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <thread>
#include <vector>

#include "tests/common/temp_dir.h"
#include "tests/support/wav_fixture.h"

namespace {

constexpr const char* kPayload = "0123ABCD";
constexpr const char* kConfiguration = " -addts 1";

struct Encoded {
    PipelineOutcome outcome;
    std::optional<float> peak;
    int32_t packets = 0;
    int32_t frames_done = 0;
    std::vector<uint8_t> bytes; // the output file
};

// Encodes `input` into `output` through the pipeline on `threads` threads; with `through_pipe`
// the input's samples arrive through a pipe, which cannot seek, as standard input would.
Encoded encode(const std::string& input, const std::string& output, int32_t threads,
               bool through_pipe = false) {
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
        EncodePipeline pipeline(*in, *out, channels, kPayload, make,
                                {threads, std::filesystem::path(output).parent_path()});
        result.outcome = pipeline.first_pass([&](int32_t frames_done, int32_t packets) {
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
    result.bytes = fixture::read_file(output).value_or(std::vector<uint8_t>{});
    return result;
}

class Pipeline : public ::testing::Test {
protected:
    TempDir dir;
};

// Loud noise on three channels clips: the output comes from a second pass. Any number of
// threads, and an input that arrives through a pipe, give the bytes of one thread.
TEST_F(Pipeline, ClippingInputGivesTheSameBytesWhateverTheThreadsOrSource) {
    const std::string input = dir.file("loud.wav");
    ASSERT_TRUE(fixture::write_wav(
        input, fixture::settings(44100, 3, 3.5, fixture::Signal::Noise, 0.98, 21)));
    const Encoded one = encode(input, dir.file("one.wav"), 1);
    ASSERT_EQ(one.outcome.failure, PipelineFailure::None);
    ASSERT_TRUE(one.peak);
    EXPECT_GT(*one.peak, 1.0f);
    EXPECT_EQ(one.frames_done, 4); // three whole seconds and the short rest
    EXPECT_EQ(one.bytes.size(), 44u + 3u * 2u * 154350u);
    for (const int32_t threads : {2, 3, 5}) {
        SCOPED_TRACE(threads);
        const Encoded many = encode(input, dir.file("many.wav"), threads);
        EXPECT_EQ(many.outcome.failure, PipelineFailure::None);
        EXPECT_EQ(many.packets, one.packets);
        EXPECT_TRUE(many.bytes == one.bytes);
    }
    const Encoded piped = encode(input, dir.file("piped.wav"), 2, true);
    EXPECT_EQ(piped.outcome.failure, PipelineFailure::None);
    EXPECT_TRUE(piped.bytes == one.bytes);
    // The temporary copy of the piped input is gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              4);
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
    const Encoded piped = encode(input, dir.file("piped.wav"), 2, true);
    EXPECT_TRUE(piped.bytes == one.bytes);
}

// An input that shrinks between the passes cannot give the output the first pass measured.
TEST_F(Pipeline, InputThatChangesBeforeTheSecondPassIsAFailure) {
    const std::string input = dir.file("loud.wav");
    ASSERT_TRUE(fixture::write_wav(
        input, fixture::settings(32000, 1, 3.0, fixture::Signal::Noise, 0.98, 22)));
    WavStreamPtr in = wav_open_read(input);
    ASSERT_TRUE(in);
    WavStreamPtr out = wav_open_write(dir.file("out.wav"), 1, 16, 32000);
    auto make = [] { return encoder_create(32000, "", ""); };
    std::vector<EncoderChannelPtr> channels;
    channels.push_back(make());
    EncodePipeline pipeline(*in, *out, channels, kPayload, make, {2, dir.path()});
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
