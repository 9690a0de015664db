#include "encoder/read_ahead.h"

#include <gtest/gtest.h>

#include <bit>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/wav_fixture.h"

namespace {

struct Read {
    std::vector<int32_t> counts;             // frames of each block handed out, the 0 after the end
    std::vector<std::vector<uint32_t>> bits; // every channel's samples, as bits
};

// Reads the whole file in blocks of `block` frames through ReadAhead.
Read read_all(const std::string& path, int32_t block, bool threaded) {
    WavStreamPtr in = wav_open_read(path);
    EXPECT_TRUE(in);
    Read r;
    if (!in)
        return r;
    const auto frames = static_cast<size_t>(in->frames);
    const auto channels = static_cast<size_t>(in->channels);
    // Room for one block past the end, which no read may touch.
    std::vector<std::vector<float>> planes(
        channels, std::vector<float>(frames + static_cast<size_t>(block), -7.0f));
    std::vector<float*> positions;
    for (auto& p : planes)
        positions.push_back(p.data());
    ReadAhead reader(*in, positions, block, threaded);
    int32_t got = 0;
    do {
        got = reader.next();
        r.counts.push_back(got);
    } while (got == block);
    r.counts.push_back(reader.next());
    for (const auto& p : planes) {
        std::vector<uint32_t> b;
        for (const float v : p)
            b.push_back(std::bit_cast<uint32_t>(v));
        r.bits.push_back(b);
    }
    return r;
}

} // namespace

// On a thread of its own or inline, the same blocks land in the same places: a file of whole
// blocks (the last pass is empty), one with a short last block, an empty one, mono and stereo.
TEST(ReadAhead, ThreadedReadingMatchesInlineReading) {
    fixture::TempDir dir;
    const struct {
        int32_t channels;
        double seconds;
        int32_t block;
        std::vector<int32_t> counts;
    } cases[] = {
        {2, 3.0, 1000, {1000, 1000, 1000, 0, 0}},
        {1, 2.5, 1000, {1000, 1000, 500, 0}},
        {2, 0.0, 1000, {0, 0}},
        {3, 0.25, 7, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.channels << " channel(s), " << c.seconds << " s, block " << c.block);
        fixture::WavSpec wav;
        wav.rate = 1000;
        wav.channels = c.channels;
        wav.seconds = c.seconds;
        const std::string path = dir.file("in.wav");
        ASSERT_TRUE(fixture::write_wav(path, wav));
        const Read inline_read = read_all(path, c.block, false);
        const Read threaded_read = read_all(path, c.block, true);
        if (!c.counts.empty()) {
            EXPECT_EQ(inline_read.counts, c.counts);
        }
        EXPECT_EQ(threaded_read.counts, inline_read.counts);
        EXPECT_EQ(threaded_read.bits, inline_read.bits);
    }
}

// A reader given up before the end (the frame loop failed) stops and is joined.
TEST(ReadAhead, StopsWhenGivenUpEarly) {
    fixture::TempDir dir;
    fixture::WavSpec wav;
    wav.rate = 8000;
    wav.channels = 2;
    wav.seconds = 20.0;
    const std::string path = dir.file("in.wav");
    ASSERT_TRUE(fixture::write_wav(path, wav));
    WavStreamPtr in = wav_open_read(path);
    ASSERT_TRUE(in);
    std::vector<float> left(160000), right(160000);
    float* positions[] = {left.data(), right.data()};
    {
        ReadAhead reader(*in, positions, 10, true);
        EXPECT_EQ(reader.next(), 10);
    }
    EXPECT_LE(in->position, 160000);
}
