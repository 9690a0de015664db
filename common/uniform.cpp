#include "common/uniform.h"

#include <array>
#include <cstddef>

namespace {

constexpr int32_t kTableSize = 32;
constexpr int32_t kModulus = 2147483647;
constexpr int32_t kMultiplier = 16807;
constexpr int32_t kQuotient = 127773;                         // kModulus / kMultiplier
constexpr int32_t kRemainder = 2836;                          // kModulus % kMultiplier
constexpr int32_t kDivisor = 1 + (kModulus - 1) / kTableSize; // 67108864: y / kDivisor is 0 ... 31
constexpr double kScale = 1.0 / 2147483647.0;
constexpr double kLargest = 0.99999988;

// Process-wide shuffle table and last output; y == 0 means "not initialised".
std::array<int32_t, kTableSize> g_table{};
int32_t g_y = 0;

// state * 16807 mod (2^31 - 1) without overflow (Schrage's method).
int32_t advance(int32_t state) {
    const int32_t k = state / kQuotient;
    int32_t next = kMultiplier * (state - k * kQuotient) - kRemainder * k;
    if (next < 0) {
        next += kModulus;
    }
    return next;
}

} // namespace

double uniform_next(int32_t& state) noexcept {
    if (state <= 0 || g_y == 0) {
        // -state, taken in 64 bits so that the most negative state cannot overflow; the seed
        // must lie in 1 ... 2^31 - 2 for the sequence not to collapse to zeros.
        const int64_t negated = -static_cast<int64_t>(state);
        if (negated < 1) {
            state = 1;
        } else if (negated >= kModulus) {
            state = kModulus - 1;
        } else {
            state = static_cast<int32_t>(negated);
        }
        // Eight warm-up steps, then 32 values stored from the top of the table down.
        for (int32_t j = kTableSize + 7; j >= 0; --j) {
            state = advance(state);
            if (j < kTableSize) {
                g_table[static_cast<size_t>(j)] = state;
            }
        }
        g_y = g_table[0];
    }
    state = advance(state);
    const auto j = static_cast<size_t>(g_y / kDivisor);
    g_y = g_table[j];
    g_table[j] = state;
    const double value = static_cast<double>(g_y) * kScale;
    return value > kLargest ? kLargest : value;
}
