#include "tests/support/wav_fixture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tests/support/files.h"

namespace fixture {
namespace {

// splitmix64: a small generator with the same sequence on every platform.
struct Random {
    uint64_t state;
    uint64_t next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double symmetric() { return 2.0 * uniform() - 1.0; }
};

int16_t to_pcm(double x) {
    const double v = std::floor(x * 32767.0 + 0.5);
    return static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
}

void put_u16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}
void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    put_u16(out, v & 0xFFFF);
    put_u16(out, v >> 16);
}
void put_tag(std::vector<uint8_t>& out, const char* tag) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(tag[i]));
}
uint32_t get_u16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8);
}
uint32_t get_u32(const std::vector<uint8_t>& b, size_t at) {
    return get_u16(b, at) | (get_u16(b, at + 2) << 16);
}

// One channel of a music-like signal: notes of a pentatonic melody with harmonics and decaying
// envelopes, a bass line, and short noise bursts on the beat. Channels differ by seed.
void music(std::vector<double>& out, int32_t rate, uint32_t seed, int32_t channel) {
    Random rnd{seed * 7919ULL + static_cast<uint64_t>(channel) * 104729ULL + 1};
    constexpr double kScale[] = {0, 2, 4, 7, 9, 12, 14, 16};
    const double two_pi = 2.0 * std::numbers::pi;
    const auto note_len = static_cast<size_t>(rate / 4); // sixteenths at 60 bpm
    const size_t n = out.size();
    double melody_f = 440.0, bass_f = 110.0;
    double phase_m = 0, phase_b = 0;
    for (size_t i = 0; i < n; ++i) {
        const size_t in_note = i % note_len;
        if (in_note == 0) {
            melody_f = 261.63 * std::pow(2.0, kScale[rnd.next() % 8] / 12.0);
            if ((i / note_len) % 4 == 0)
                bass_f = 65.41 * std::pow(2.0, kScale[rnd.next() % 5] / 12.0);
        }
        const double t_note = static_cast<double>(in_note) / rate;
        const double env_m = std::exp(-3.0 * t_note);
        phase_m += two_pi * melody_f / rate;
        phase_b += two_pi * bass_f / rate;
        double v = env_m * (0.5 * std::sin(phase_m) + 0.25 * std::sin(2 * phase_m) +
                            0.12 * std::sin(3 * phase_m) + 0.06 * std::sin(5 * phase_m));
        v += 0.35 * std::sin(phase_b);
        const size_t beat = i % (note_len * 2);
        if (beat < note_len / 4)
            v += 0.25 * std::exp(-30.0 * static_cast<double>(beat) / rate) * rnd.symmetric();
        v += 0.02 * rnd.symmetric(); // a little room noise
        out[i] = v;
    }
}

} // namespace

WavSpec settings(int32_t rate, int32_t channels, double seconds, Signal signal, double level,
                 uint32_t seed) {
    WavSpec s;
    s.rate = rate;
    s.channels = channels;
    s.seconds = seconds;
    s.signal = signal;
    s.level = level;
    s.seed = seed;
    return s;
}

WavData generate(const WavSpec& spec) {
    WavData data;
    data.channels = spec.channels;
    data.rate = spec.rate;
    const auto frames = static_cast<size_t>(std::llround(spec.seconds * spec.rate));
    data.samples.assign(frames * static_cast<size_t>(spec.channels), 0);
    std::vector<double> ch(frames);
    for (int32_t c = 0; c < spec.channels; ++c) {
        Random rnd{spec.seed * 1000003ULL + static_cast<uint64_t>(c)};
        switch (spec.signal) {
        case Signal::Silence:
            std::fill(ch.begin(), ch.end(), 0.0);
            break;
        case Signal::Noise:
            for (auto& v : ch)
                v = rnd.symmetric();
            break;
        case Signal::Sine:
            for (size_t i = 0; i < frames; ++i)
                ch[i] = std::sin(2.0 * std::numbers::pi * spec.frequency * static_cast<double>(i) /
                                 spec.rate);
            break;
        case Signal::Music:
            music(ch, spec.rate, spec.seed, c);
            break;
        }
        for (size_t i = 0; i < frames; ++i)
            data.samples[i * static_cast<size_t>(spec.channels) + static_cast<size_t>(c)] =
                to_pcm(spec.level * ch[i]);
    }
    return data;
}

std::vector<uint8_t> wav_bytes(const WavData& data) {
    std::vector<uint8_t> out;
    const auto data_size = static_cast<uint32_t>(data.samples.size() * 2);
    out.reserve(44 + data_size);
    put_tag(out, "RIFF");
    put_u32(out, 36 + data_size);
    put_tag(out, "WAVE");
    put_tag(out, "fmt ");
    put_u32(out, 16);
    put_u16(out, 1);
    put_u16(out, static_cast<uint32_t>(data.channels));
    put_u32(out, static_cast<uint32_t>(data.rate));
    put_u32(out, static_cast<uint32_t>(data.rate * data.channels * 2));
    put_u16(out, static_cast<uint32_t>(data.channels * 2));
    put_u16(out, 16);
    put_tag(out, "data");
    put_u32(out, data_size);
    for (int16_t s : data.samples)
        put_u16(out, static_cast<uint16_t>(s));
    return out;
}

bool write_wav(const std::string& path, const WavData& data) {
    const std::vector<uint8_t> bytes = wav_bytes(data);
    return write_file(path, std::string(bytes.begin(), bytes.end()));
}
bool write_wav(const std::string& path, const WavSpec& spec) {
    return write_wav(path, generate(spec));
}

std::optional<WavData> read_wav(const std::string& path) {
    const std::string text = read_file(path);
    const std::vector<uint8_t> b(text.begin(), text.end());
    if (b.size() < 12)
        return std::nullopt;
    if (std::string(b.begin(), b.begin() + 4) != "RIFF" ||
        std::string(b.begin() + 8, b.begin() + 12) != "WAVE")
        return std::nullopt;
    WavData data;
    bool have_fmt = false;
    size_t at = 12;
    while (at + 8 <= b.size()) {
        const std::string id(b.begin() + static_cast<std::ptrdiff_t>(at),
                             b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const size_t size = get_u32(b, at + 4);
        at += 8;
        if (id == "fmt " && at + 16 <= b.size()) {
            if (get_u16(b, at) != 1 || get_u16(b, at + 14) != 16)
                return std::nullopt;
            data.channels = static_cast<int32_t>(get_u16(b, at + 2));
            data.rate = static_cast<int32_t>(get_u32(b, at + 4));
            have_fmt = true;
        } else if (id == "data" && have_fmt && data.channels > 0) {
            const size_t avail = std::min(size, b.size() - at);
            const size_t frames = avail / (2 * static_cast<size_t>(data.channels));
            data.samples.resize(frames * static_cast<size_t>(data.channels));
            for (size_t i = 0; i < data.samples.size(); ++i)
                data.samples[i] = static_cast<int16_t>(get_u16(b, at + 2 * i));
            return data;
        }
        at += size + (size & 1);
    }
    return std::nullopt;
}

} // namespace fixture
