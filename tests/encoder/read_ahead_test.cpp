#include "encoder/read_ahead.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <bit>
#include <condition_variable>
#include <cstdio>
#include <mutex>
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

// Holds reads back from a given byte of a file until opened: a read-ahead thread then waits
// there, where the test wants it, whatever the scheduler does.
struct Gate {
    std::FILE* file = nullptr;
    size_t offset = 0;      // bytes read so far
    size_t closed_from = 0; // reads from this byte on wait until the gate opens
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;

    void let_through() {
        const std::lock_guard<std::mutex> lock(mutex);
        open = true;
        opened.notify_all();
    }
    static ssize_t read(void* cookie, char* buffer, size_t size) {
        Gate& gate = *static_cast<Gate*>(cookie);
        if (gate.offset >= gate.closed_from) {
            std::unique_lock<std::mutex> lock(gate.mutex);
            gate.opened.wait(lock, [&] { return gate.open; });
        }
        const size_t got = std::fread(buffer, 1, size, gate.file);
        gate.offset += got;
        return static_cast<ssize_t>(got);
    }
    static int close(void* cookie) { return std::fclose(static_cast<Gate*>(cookie)->file); }
};

// A reader given up before the end (the frame loop failed) stops after the block it is
// reading and is joined. It waits at the second block until the test gives it up; reading on
// to half of the file would then take it thousands of blocks.
TEST(ReadAhead, StopsWhenGivenUpEarly) {
    fixture::TempDir dir;
    const std::string path = dir.file("in.wav");
    ASSERT_TRUE(
        fixture::write_wav(path, fixture::settings(1000, 1, 100.0, fixture::Signal::Noise)));
    Gate gate; // outlives the stream, which closes through it
    WavStreamPtr in = wav_open_read(path);
    ASSERT_TRUE(in);
    constexpr int32_t kBlock = 10;
    gate.file = in->file;
    gate.closed_from = 2 * kBlock; // 16-bit mono: where the second block starts
    in->file = fopencookie(&gate, "r", {Gate::read, nullptr, nullptr, Gate::close});
    ASSERT_NE(in->file, nullptr);
    std::setvbuf(in->file, nullptr, _IONBF, 0); // one read per block, no stdio read-ahead
    std::vector<float> samples(static_cast<size_t>(in->frames));
    float* positions[] = {samples.data()};
    {
        ReadAhead reader(*in, positions, kBlock, true);
        EXPECT_EQ(reader.next(), kBlock);
        gate.let_through();
    }
    EXPECT_LT(in->position, in->frames / 2);
}
