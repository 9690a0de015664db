#include "common/pcm16.h"

#include <cmath>
#include <limits>

#include "common/kernels.h"

namespace {

float from_bytes(const uint8_t* b) {
    const auto bits = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return static_cast<float>(static_cast<int16_t>(bits)) * (1.0f / 32768.0f);
}

void to_bytes(uint8_t* b, uint16_t v) {
    b[0] = static_cast<uint8_t>(v & 0xFFu);
    b[1] = static_cast<uint8_t>(v >> 8);
}

} // namespace

uint16_t pcm16_sample(float x, double scale) noexcept {
    const double v = std::floor(scale * static_cast<double>(x) + 0.5);
    int32_t rounded = 0;
    if (std::isnan(v)) {
        rounded = 0;
    } else if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
        rounded = std::numeric_limits<int32_t>::min();
    } else if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
        rounded = std::numeric_limits<int32_t>::max();
    } else {
        rounded = static_cast<int32_t>(v);
    }
    // The low 16 bits, as two's complement.
    return static_cast<uint16_t>(static_cast<uint32_t>(rounded) & 0xFFFFu);
}

void pcm16_to_planar_plain(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                           size_t offset) {
    const size_t channels = planes.size();
    for (size_t i = 0; i < frames; ++i) {
        const uint8_t* frame = bytes + 2 * channels * i;
        for (size_t c = 0; c < channels; ++c) {
            planes[c][offset + i] = from_bytes(frame + 2 * c);
        }
    }
}

void pcm16_from_planar_plain(std::span<const float* const> planes, size_t offset, size_t frames,
                             double scale, uint8_t* bytes) {
    const size_t channels = planes.size();
    for (size_t i = 0; i < frames; ++i) {
        uint8_t* frame = bytes + 2 * channels * i;
        for (size_t c = 0; c < channels; ++c) {
            to_bytes(frame + 2 * c, pcm16_sample(planes[c][offset + i], scale));
        }
    }
}

void pcm16_to_planar(const uint8_t* bytes, size_t frames, std::span<float* const> planes,
                     size_t offset, SimdLevel level) noexcept {
    kernels_at(level).pcm16_to_planar(bytes, frames, planes, offset);
}

void pcm16_from_planar(std::span<const float* const> planes, size_t offset, size_t frames,
                       double scale, uint8_t* bytes, SimdLevel level) noexcept {
    kernels_at(level).pcm16_from_planar(planes, offset, frames, scale, bytes);
}
