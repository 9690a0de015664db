// libFuzzer target: the WAV writer. The input picks a channel count, a sampling rate, a gain
// and block sizes, and gives arbitrary float samples (NaN, infinities and huge values
// included). The file written is read back: its header must state what was written, and
// every sample must be the one pcm16_sample gives for its float, one sample at a time.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/pcm16.h"
#include "common/wav.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

const std::string& scratch_path() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("vekmrk_writer_fuzz_" + std::to_string(::getpid()) + ".wav"))
                                        .string();
    return path;
}

float float_at(const uint8_t* bytes) {
    uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
        bits = (bits << 8) | bytes[i];
    }
    float value = 0.0f;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) {
        return 0;
    }
    const int32_t channels = data[0] % 8 + 1;
    const int32_t rate = static_cast<int32_t>(data[1] | (data[2] << 8)) + 1;
    const int32_t block = data[3] % 16 + 1;
    // The gain: 1.0, or the input's own float.
    const float gain = (data[4] & 1) != 0 ? float_at(data + 4) : 1.0f;
    const size_t frames = (size - 8) / (4 * static_cast<size_t>(channels));
    std::vector<std::vector<float>> planes(static_cast<size_t>(channels),
                                           std::vector<float>(frames));
    for (size_t i = 0; i < frames; ++i) {
        for (size_t c = 0; c < planes.size(); ++c) {
            planes[c][i] = float_at(data + 8 + 4 * (i * planes.size() + c));
        }
    }

    WavStreamPtr out = wav_open_write(scratch_path(), channels, 16, rate);
    check(out != nullptr);
    for (size_t at = 0; at < frames; at += static_cast<size_t>(block)) {
        const size_t n = std::min(frames - at, static_cast<size_t>(block));
        std::vector<const float*> sources;
        for (const auto& plane : planes) {
            sources.push_back(plane.data() + at);
        }
        check(wav_write_frames(*out, sources, gain, static_cast<int32_t>(n)));
    }
    check(wav_close(out.release()));

    WavStreamPtr in = wav_open_read(scratch_path());
    check(in != nullptr && in->channels == channels && in->rate == rate &&
          in->frames == static_cast<int32_t>(frames));
    std::vector<std::vector<float>> back(planes.size(), std::vector<float>(frames + 1));
    std::vector<float*> targets;
    for (auto& plane : back) {
        targets.push_back(plane.data());
    }
    check(wav_read_frames(*in, targets, static_cast<int32_t>(frames) + 1) ==
          static_cast<int32_t>(frames));
    const auto scale = static_cast<double>(static_cast<float>(static_cast<double>(gain) * 32767.0));
    for (size_t c = 0; c < planes.size(); ++c) {
        for (size_t i = 0; i < frames; ++i) {
            const auto expected = static_cast<int16_t>(pcm16_sample(planes[c][i], scale));
            check(back[c][i] == static_cast<float>(expected) * (1.0f / 32768.0f));
        }
    }
    return 0;
}
