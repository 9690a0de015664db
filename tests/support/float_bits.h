#pragma once
// The bit patterns of floats, for comparisons that must see every bit: the sign of a zero, and
// which of two results a rounding picked.

#include <bit>
#include <cstdint>
#include <span>
#include <vector>

namespace fixture {

inline std::vector<uint32_t> float_bits(std::span<const float> values) {
    std::vector<uint32_t> out;
    out.reserve(values.size());
    for (const float v : values) {
        out.push_back(std::bit_cast<uint32_t>(v));
    }
    return out;
}

} // namespace fixture
