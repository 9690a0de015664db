#include "common/wav.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/wav_fixture.h"

namespace {

std::string le16(uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
std::string le32(uint32_t v) {
    return le16(v & 0xFFFF) + le16(v >> 16);
}
std::string pcm16(std::initializer_list<int16_t> samples) {
    std::string out;
    for (int16_t s : samples) {
        out += le16(static_cast<uint16_t>(s));
    }
    return out;
}
std::string fmt_body(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t bits) {
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * channels * bits / 8) +
           le16(channels * bits / 8) + le16(bits);
}
// A chunk: id, declared size and body, plus the pad byte after an odd size.
std::string chunk(const std::string& id, const std::string& body,
                  std::optional<uint32_t> declared = std::nullopt) {
    std::string out = id + le32(declared.value_or(static_cast<uint32_t>(body.size()))) + body;
    if (!declared && body.size() % 2 == 1) {
        out += '\0';
    }
    return out;
}
std::string riff(const std::string& chunks) {
    return "RIFF" + le32(static_cast<uint32_t>(chunks.size() + 4)) + "WAVE" + chunks;
}

// Every frame of a stream, read in blocks of `block` frames, as one planar vector per channel.
std::vector<std::vector<float>> read_all(WavStream& in, int32_t block) {
    std::vector<std::vector<float>> planes(static_cast<size_t>(in.channels));
    std::vector<std::vector<float>> parts(planes.size(),
                                          std::vector<float>(static_cast<size_t>(block)));
    std::vector<float*> pointers;
    for (auto& p : parts) {
        pointers.push_back(p.data());
    }
    for (int32_t got; (got = wav_read_frames(in, pointers, block)) > 0;) {
        for (size_t c = 0; c < planes.size(); ++c) {
            planes[c].insert(planes[c].end(), parts[c].begin(), parts[c].begin() + got);
        }
    }
    return planes;
}

class WavTest : public testing::Test {
protected:
    fixture::TempDir m_dir;
    std::string put(const std::string& name, const std::string& bytes) {
        const std::string path = m_dir.file(name);
        fixture::write_file(path, bytes);
        return path;
    }
};

} // namespace

TEST_F(WavTest, ReadsWhatAnotherWriterWrote) {
    for (int32_t channels : {1, 2, 3}) {
        fixture::WavSpec spec;
        spec.channels = channels;
        spec.seconds = 1.3;
        spec.rate = 22050;
        const fixture::WavData data = fixture::generate(spec);
        const std::string path = m_dir.file("in.wav");
        ASSERT_TRUE(fixture::write_wav(path, data));
        for (int32_t block : {1, 333, 22050, 100000}) {
            SCOPED_TRACE(testing::Message() << channels << " channels, blocks of " << block);
            WavStreamPtr in = wav_open_read(path);
            ASSERT_TRUE(in);
            EXPECT_EQ(in->channels, channels);
            EXPECT_EQ(in->rate, 22050);
            EXPECT_EQ(in->bits, 16);
            EXPECT_EQ(in->frames, data.frames());
            const auto planes = read_all(*in, block);
            EXPECT_EQ(in->position, data.frames());
            for (size_t i = 0; i < data.samples.size(); ++i) {
                const size_t c = i % static_cast<size_t>(channels);
                ASSERT_EQ(planes[c][i / static_cast<size_t>(channels)],
                          static_cast<float>(data.samples[i]) / 32768.0f)
                    << i;
            }
        }
    }
}

TEST_F(WavTest, FullScaleSamples) {
    const std::string path = put("x.wav", riff(chunk("fmt ", fmt_body(1, 1, 8000, 16)) +
                                               chunk("data", pcm16({-32768, 32767, 0, -1}))));
    WavStreamPtr in = wav_open_read(path);
    ASSERT_TRUE(in);
    const auto planes = read_all(*in, 10);
    EXPECT_EQ(planes[0], (std::vector<float>{-1.0f, 0.999969482421875f, 0.0f, -1.0f / 32768.0f}));
}

TEST_F(WavTest, ChunkWalk) {
    const std::string fmt = chunk("fmt ", fmt_body(1, 2, 44100, 16));
    const std::string data = chunk("data", pcm16({1, 2, 3, 4}));
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"LIST before fmt", riff(chunk("LIST", "INFOxxxxyyyy") + fmt + data)},
        {"fact between fmt and data", riff(fmt + chunk("fact", le32(2)) + data)},
        {"odd chunk with its pad byte", riff(fmt + chunk("junk", "abc") + data)},
        {"18-byte fmt body", riff(chunk("fmt ", fmt_body(1, 2, 44100, 16) + le16(0)) + data)},
        {"odd 17-byte fmt body", riff(chunk("fmt ", fmt_body(1, 2, 44100, 16) + "x") + data)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavStreamPtr in = wav_open_read(put("c.wav", c.bytes));
        ASSERT_TRUE(in);
        EXPECT_EQ(in->channels, 2);
        EXPECT_EQ(in->rate, 44100);
        EXPECT_EQ(in->frames, 2);
        const auto planes = read_all(*in, 7);
        EXPECT_EQ(planes[0], (std::vector<float>{1.0f / 32768, 3.0f / 32768}));
        EXPECT_EQ(planes[1], (std::vector<float>{2.0f / 32768, 4.0f / 32768}));
    }
}

TEST_F(WavTest, RefusesWhatIsNotSixteenBitPcmAndSaysWhy) {
    const std::string good_fmt = chunk("fmt ", fmt_body(1, 1, 44100, 16));
    const std::string data = chunk("data", pcm16({1, 2}));
    const auto extensible = [](uint32_t bits, uint32_t subformat) {
        return fmt_body(0xFFFE, 1, 44100, bits) + le16(22) + le16(bits) + le32(4) +
               le16(subformat) + std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
    };
    using P = WavProblem;
    const struct {
        const char* name;
        std::string bytes;
        WavProblem problem;
        const char* words; // what the reason must say
    } cases[] = {
        {"empty file", "", P::Empty, "empty"},
        {"MP3", "ID3\x03\0\0\0\0\0\x21" + std::string(100, 'x'), P::NotWave, "RIFF WAVE"},
        {"not RIFF", "RIFX" + riff(good_fmt + data).substr(4), P::NotWave, "RIFF WAVE"},
        {"not WAVE", riff(good_fmt + data).replace(8, 4, "AVI "), P::NotWave, "RIFF WAVE"},
        {"8-bit", riff(chunk("fmt ", fmt_body(1, 1, 44100, 8)) + data), P::UnsupportedPcm,
         "8-bit PCM is not supported: convert it with sox in.wav -b 16 out.wav"},
        {"24-bit", riff(chunk("fmt ", fmt_body(1, 1, 44100, 24)) + data), P::UnsupportedPcm,
         "24-bit PCM is not supported: convert it with sox in.wav -b 16 out.wav"},
        {"32-bit", riff(chunk("fmt ", fmt_body(1, 1, 44100, 32)) + data), P::UnsupportedPcm,
         "32-bit PCM"},
        {"float", riff(chunk("fmt ", fmt_body(3, 1, 44100, 32)) + data), P::UnsupportedFloat,
         "32-bit float is not supported: convert"},
        {"extensible 24-bit", riff(chunk("fmt ", extensible(24, 1)) + data), P::UnsupportedPcm,
         "24-bit PCM"},
        {"extensible float", riff(chunk("fmt ", extensible(32, 3)) + data), P::UnsupportedFloat,
         "32-bit float"},
        {"extensible, unknown subformat",
         riff(chunk("fmt ", fmt_body(0xFFFE, 1, 44100, 16) + le16(22) + std::string(22, '\0')) +
              data),
         P::UnsupportedCode, "0xFFFE"},
        {"ADPCM", riff(chunk("fmt ", fmt_body(0x11, 1, 44100, 4)) + data), P::UnsupportedCode,
         "0x0011"},
        {"no channels", riff(chunk("fmt ", fmt_body(1, 0, 44100, 16)) + data), P::NoChannels,
         "0 channels"},
        {"fmt body too short", riff(chunk("fmt ", fmt_body(1, 1, 44100, 16).substr(0, 14)) + data),
         P::NoFormat, "fmt"},
        {"no fmt", riff(chunk("LIST", "abcd") + data), P::NoFormat, "fmt"},
        {"data before fmt", riff(data + good_fmt), P::NoFormat, "fmt"},
        {"no data", riff(good_fmt + chunk("LIST", "abcd")), P::NoData, "data"},
        {"chunk size past the end", riff(chunk("LIST", "abcd", 0xFFFFFFF0u) + good_fmt + data),
         P::CutShort, "cut short"},
        {"fmt size past the end",
         riff(chunk("fmt ", fmt_body(1, 1, 44100, 16), 0x80000000u) + data), P::CutShort,
         "cut short"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavRefusal why;
        EXPECT_FALSE(wav_open_read(put("bad.wav", c.bytes), &why));
        EXPECT_EQ(why.problem, c.problem);
        EXPECT_NE(wav_refusal_text(why).find(c.words), std::string::npos) << wav_refusal_text(why);
    }
    WavRefusal why;
    EXPECT_FALSE(wav_open_read(m_dir.file("missing.wav"), &why));
    EXPECT_EQ(why.problem, WavProblem::NotFound);
    EXPECT_FALSE(wav_open_read(m_dir.path().string(), &why));
    EXPECT_EQ(why.problem, WavProblem::Folder);
}

// Sixteen-bit PCM in the extensible format reads as plain PCM; its speaker mask and every other
// chunk, before and after the audio, come back in order from a writer given the metadata.
TEST_F(WavTest, KeepsExtensibleFormatAndOtherChunksThroughAWrite) {
    const std::string format = fmt_body(0xFFFE, 3, 48000, 16) + le16(22) + le16(16) + le32(0x107) +
                               le16(1) +
                               std::string("\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 14);
    const std::string bytes =
        riff(chunk("bext", std::string(602, 'b')) + chunk("fmt ", format) +
             chunk("LIST", "INFOINAM\x05\0\0\0Song\0") + chunk("MD5 ", std::string(16, 'm')) +
             chunk("data", pcm16({1, 2, 3, 4, 5, 6})) + chunk("iXML", "<x/>") +
             chunk("cue ", std::string(3, 'c')));
    WavStreamPtr in = wav_open_read(put("in.wav", bytes));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->channels, 3);
    EXPECT_EQ(in->frames, 2);
    EXPECT_EQ(in->metadata.channel_mask, 0x107u);
    const auto names = [](const WavMetadata& m) {
        std::string out;
        for (const WavChunk& c : m.chunks) {
            out += c.id + (c.after_data ? "+" : "-");
        }
        return out;
    };
    // "MD5 " checksums the samples, which marking changes.
    EXPECT_EQ(names(in->metadata), "bext-LIST-iXML+cue +");
    const auto samples = read_all(*in, 5);

    const std::string path = m_dir.file("out.wav");
    WavStreamPtr out = wav_open_write(path, 3, 16, 48000, &in->metadata);
    ASSERT_TRUE(out);
    std::vector<const float*> sources;
    for (const auto& plane : samples) {
        sources.push_back(plane.data());
    }
    ASSERT_TRUE(wav_write_frames(*out, sources, 32768.0f / 32767.0f, 2));
    ASSERT_TRUE(wav_close(out.release()));

    const std::string written = fixture::read_file(path);
    EXPECT_EQ(written.substr(4, 4), le32(static_cast<uint32_t>(written.size() - 8)));
    WavStreamPtr again = wav_open_read(path);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->metadata.channel_mask, 0x107u);
    EXPECT_EQ(names(again->metadata), names(in->metadata));
    for (size_t i = 0; i < in->metadata.chunks.size(); ++i) {
        EXPECT_EQ(again->metadata.chunks[i].body, in->metadata.chunks[i].body);
    }
    EXPECT_EQ(read_all(*again, 5), samples);
}

TEST_F(WavTest, RefusesEveryCutInsideTheHeader) {
    const std::string whole = riff(chunk("fmt ", fmt_body(1, 1, 44100, 16)) + chunk("data", ""));
    ASSERT_EQ(whole.size(), 44u);
    for (size_t length = 0; length < whole.size(); ++length) {
        SCOPED_TRACE(length);
        EXPECT_FALSE(wav_open_read(put("cut.wav", whole.substr(0, length))));
    }
    WavStreamPtr in = wav_open_read(put("cut.wav", whole));
    ASSERT_TRUE(in);
    EXPECT_EQ(in->frames, 0);
}

TEST_F(WavTest, CountsOnlyFramesPresent) {
    const std::string fmt = chunk("fmt ", fmt_body(1, 2, 44100, 16));
    const struct {
        const char* name;
        std::string bytes;
        int32_t frames;
    } cases[] = {
        // 10 bytes of stereo data: 2 frames, the last 2 bytes are never read.
        {"part of a frame", riff(fmt + chunk("data", pcm16({1, 2, 3, 4, 5}))), 2},
        {"size larger than the file", riff(fmt + chunk("data", pcm16({1, 2, 3, 4, 5, 6}), 1000)),
         3},
        {"size of an unknown length", riff(fmt + chunk("data", pcm16({1, 2, 3, 4}), 0xFFFFFFFFu)),
         2},
        {"huge size, no samples", riff(fmt + chunk("data", "", 0x7FFFFFF0u)), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WavStreamPtr in = wav_open_read(put("d.wav", c.bytes));
        ASSERT_TRUE(in);
        EXPECT_EQ(in->frames, c.frames);
        std::vector<float> left(100), right(100);
        float* planes[] = {left.data(), right.data()};
        EXPECT_EQ(wav_read_frames(*in, planes, 100), c.frames);
        EXPECT_EQ(wav_read_frames(*in, planes, 100), 0);
    }
}

TEST_F(WavTest, ShortReadsAndBadArguments) {
    const std::string path = put("s.wav", riff(chunk("fmt ", fmt_body(1, 1, 8000, 16)) +
                                               chunk("data", pcm16({1, 2, 3, 4, 5}))));
    WavStreamPtr in = wav_open_read(path);
    ASSERT_TRUE(in);
    std::vector<float> buffer(10, 9.0f);
    float* planes[] = {buffer.data()};
    EXPECT_EQ(wav_read_frames(*in, planes, 0), 0);
    EXPECT_EQ(wav_read_frames(*in, planes, -4), 0);
    EXPECT_EQ(wav_read_frames(*in, std::span<float* const>(), 3), 0); // fewer arrays than channels
    EXPECT_EQ(wav_read_frames(*in, planes, 3), 3);
    EXPECT_EQ(wav_read_frames(*in, planes, 3), 2); // the rest
    EXPECT_EQ(buffer[0], 4.0f / 32768);
    EXPECT_EQ(buffer[2], 3.0f / 32768); // untouched beyond the count
    EXPECT_EQ(wav_read_frames(*in, planes, 3), 0);
    const float* source[] = {buffer.data()};
    EXPECT_FALSE(wav_write_frames(*in, source, 1.0f, 1)); // a reading stream takes no writes
    EXPECT_TRUE(wav_close(in.release()));
    EXPECT_FALSE(wav_close(nullptr));
}

TEST_F(WavTest, WritesHeaderAndCompletesItOnClose) {
    const std::string path = m_dir.file("out.wav");
    WavStreamPtr out = wav_open_write(path, 1, 16, 44100);
    ASSERT_TRUE(out);
    std::vector<float> second(44100, 0.25f);
    const float* planes[] = {second.data()};
    ASSERT_TRUE(wav_write_frames(*out, planes, 1.0f, 44100));
    EXPECT_EQ(out->frames, 44100);

    // Not closed yet: the placeholder sizes 36 and 0.
    ASSERT_EQ(std::fflush(out->file), 0);
    std::string bytes = fixture::read_file(path);
    ASSERT_EQ(bytes.size(), 44u + 88200u);
    EXPECT_EQ(bytes.substr(4, 4), le32(36));
    EXPECT_EQ(bytes.substr(40, 4), le32(0));

    EXPECT_TRUE(wav_close(out.release()));
    bytes = fixture::read_file(path);
    // One second of mono 44100 Hz: RIFF size 88236, data size 88200, byte rate 88200, align 2.
    const std::string header = "RIFF" + le32(88236) + "WAVE" + "fmt " + le32(16) + le16(1) +
                               le16(1) + le32(44100) + le32(88200) + le16(2) + le16(16) + "data" +
                               le32(88200);
    EXPECT_EQ(bytes.substr(0, 44), header);
    EXPECT_EQ(bytes.substr(44, 2), le16(8192));

    // An independent reader agrees.
    const std::optional<fixture::WavData> back = fixture::read_wav(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->channels, 1);
    EXPECT_EQ(back->rate, 44100);
    EXPECT_EQ(back->frames(), 44100);
}

TEST_F(WavTest, RoundsHalvesUpAndKeepsLowBits) {
    const struct {
        float gain;
        float x;
        int16_t stored;
    } cases[] = {
        {1.0f, 1.0f, 32767},
        {1.0f, -1.0f, -32767}, // never -32768
        {1.0f, 0.0f, 0},
        {1.0f, 0.5f, 16384},        // 16383.5 goes up
        {1.0f, -0.5f, -16383},      // -16383.5 goes up too
        {1.0f / 32767.0f, 2.5f, 3}, // gain * 32767 rounds to exactly 1
        {1.0f / 32767.0f, -2.5f, -2},
        {2.0f, 0.25f, 16384}, // 16383.5
        {0.0f, 0.9f, 0},
        {1.0f, 1.5f, -16385}, // 49151 keeps its low 16 bits: the caller stays in full scale
        {1.0f, std::numeric_limits<float>::quiet_NaN(), 0},
        {1.0f, std::numeric_limits<float>::infinity(), -1}, // clamped to 0x7FFFFFFF
        {1.0f, -1e30f, 0},                                  // clamped to 0x80000000
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "gain " << c.gain << " x " << c.x);
        const std::string path = m_dir.file("r.wav");
        WavStreamPtr out = wav_open_write(path, 1, 16, 8000);
        ASSERT_TRUE(out);
        const float* planes[] = {&c.x};
        ASSERT_TRUE(wav_write_frames(*out, planes, c.gain, 1));
        ASSERT_TRUE(wav_close(out.release()));
        EXPECT_EQ(fixture::read_file(path).substr(44), le16(static_cast<uint16_t>(c.stored)));
    }
}

TEST_F(WavTest, WriteThenReadInAnyBlockSize) {
    fixture::WavSpec spec;
    spec.channels = 2;
    spec.seconds = 2.0;
    const fixture::WavData data = fixture::generate(spec);
    const size_t frames = static_cast<size_t>(data.frames());
    // x = s / 32767 comes back as s exactly with gain 1.
    std::vector<float> left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = static_cast<float>(data.samples[2 * i]) / 32767.0f;
        right[i] = static_cast<float>(data.samples[2 * i + 1]) / 32767.0f;
    }
    std::optional<std::string> first;
    for (size_t block : {size_t{1}, size_t{1000}, frames}) {
        SCOPED_TRACE(block);
        const std::string path = m_dir.file("w.wav");
        WavStreamPtr out = wav_open_write(path, 2, 16, 44100);
        ASSERT_TRUE(out);
        for (size_t at = 0; at < frames; at += block) {
            const float* planes[] = {left.data() + at, right.data() + at};
            ASSERT_TRUE(wav_write_frames(*out, planes, 1.0f,
                                         static_cast<int32_t>(std::min(block, frames - at))));
        }
        ASSERT_TRUE(wav_close(out.release()));
        const std::string bytes = fixture::read_file(path);
        if (first) {
            EXPECT_EQ(bytes, *first);
        } else {
            first = bytes;
            const std::optional<fixture::WavData> back = fixture::read_wav(path);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->samples, data.samples);
        }
    }
}

TEST_F(WavTest, RefusesBadOutput) {
    EXPECT_FALSE(wav_open_write(m_dir.file("no/such/folder.wav"), 1, 16, 44100));
    EXPECT_FALSE(wav_open_write(m_dir.file("a.wav"), 0, 16, 44100));
    EXPECT_FALSE(wav_open_write(m_dir.file("a.wav"), 1, 8, 44100));
    EXPECT_FALSE(wav_open_write(m_dir.file("a.wav"), 1, 16, 0));
    EXPECT_FALSE(wav_open_write(m_dir.file("a.wav"), 40000, 16, 44100));

    // Fewer arrays than channels, or more data than the header can count, spoil the file.
    WavStreamPtr out = wav_open_write(m_dir.file("b.wav"), 2, 16, 44100);
    ASSERT_TRUE(out);
    const float x = 0.1f;
    const float* one[] = {&x};
    EXPECT_FALSE(wav_write_frames(*out, one, 1.0f, 1));
    EXPECT_TRUE(out->failed);
    const float* two[] = {&x, &x};
    EXPECT_FALSE(wav_write_frames(*out, two, 1.0f, 1));
    EXPECT_FALSE(wav_close(out.release()));
    EXPECT_EQ(fixture::read_file(m_dir.file("b.wav")).substr(40, 4), le32(0));

    out = wav_open_write(m_dir.file("c.wav"), 2, 16, 44100);
    ASSERT_TRUE(out);
    // As if nearly 4 GiB had been written: the data size may reach 2^32 - 1 - 36 bytes.
    out->frames = 0x3FFFFFF5;
    EXPECT_TRUE(wav_write_frames(*out, two, 1.0f, 1));
    EXPECT_FALSE(wav_write_frames(*out, two, 1.0f, 1));
    EXPECT_FALSE(wav_close(out.release()));
}

TEST_F(WavTest, FullDiskIsReported) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system";
    }
    // Small writes fail only when the buffer is flushed: at close.
    WavStreamPtr out = wav_open_write("/dev/full", 1, 16, 8000);
    ASSERT_TRUE(out);
    const float x = 0.5f;
    const float* planes[] = {&x};
    EXPECT_TRUE(wav_write_frames(*out, planes, 1.0f, 1));
    EXPECT_FALSE(wav_close(out.release()));

    // Large writes fail at once, and the stream stays failed.
    out = wav_open_write("/dev/full", 1, 16, 8000);
    ASSERT_TRUE(out);
    std::vector<float> second(100000, 0.5f);
    const float* big[] = {second.data()};
    EXPECT_FALSE(wav_write_frames(*out, big, 1.0f, 100000));
    EXPECT_TRUE(out->failed);
    EXPECT_FALSE(wav_write_frames(*out, planes, 1.0f, 1));
    EXPECT_FALSE(wav_close(out.release()));
}
