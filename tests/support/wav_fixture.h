#pragma once
// Deterministic test audio: silence, white noise, a sine or a music-like mix (tones with note
// envelopes, a bass line, noise bursts), written as 16-bit PCM WAV files by a writer of its own,
// so that tests of the project's reader and writer do not check the code against itself.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fixture {

enum class Signal { Silence, Noise, Sine, Music };

struct WavSpec {
    int32_t rate = 44100;
    int32_t channels = 2;
    double seconds = 5.0;
    Signal signal = Signal::Music;
    double level = 0.3;      // peak-ish amplitude, full scale 1.0
    uint32_t seed = 1;       // selects the noise and the melody
    double frequency = 1000; // Sine only
};

struct WavData {
    int32_t channels = 0;
    int32_t rate = 0;
    std::vector<int16_t> samples; // interleaved
    int32_t frames() const {
        return channels > 0 ? static_cast<int32_t>(samples.size()) / channels : 0;
    }
};

// The settings of a generated signal, in one expression.
WavSpec settings(int32_t rate, int32_t channels, double seconds, Signal signal, double level = 0.3,
                 uint32_t seed = 1);

// Interleaved samples for the spec; the same spec always gives the same samples.
WavData generate(const WavSpec& spec);

// A canonical 44-byte-header WAV file image of the samples.
std::vector<uint8_t> wav_bytes(const WavData& data);

bool write_wav(const std::string& path, const WavData& data);
bool write_wav(const std::string& path, const WavSpec& spec);

// Minimal reader of canonical and chunked 16-bit PCM files; empty when the file is not one.
std::optional<WavData> read_wav(const std::string& path);

} // namespace fixture
