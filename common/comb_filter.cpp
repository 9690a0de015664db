#include "common/comb_filter.h"

#include <algorithm>

#include "common/kernels.h"

void comb_block_plain(float* b, size_t n, size_t count, double tap0, double tap1) {
    for (size_t i = n; i < count; ++i) {
        double sum = static_cast<double>(b[i]);
        sum += tap0 * static_cast<double>(b[i - n]);
        sum += tap1 * static_cast<double>(b[i + 1 - n]);
        b[i] = static_cast<float>(sum);
    }
}

void comb_filter_run(std::span<float> b, std::span<float> history, float tap0, float tap1,
                     SimdLevel level) noexcept {
    const size_t n = history.size();
    const size_t count = b.size();
    if (n == 0) {
        return;
    }
    const auto t0 = static_cast<double>(tap0);
    const auto t1 = static_cast<double>(tap1);
    // The first n outputs feed back on the history: history[i] is the output n - i samples
    // before the block's first.
    for (size_t i = 0; i < std::min(n, count); ++i) {
        const float back_n = history[i];
        const float back_n1 = i + 1 < n ? history[i + 1] : b[i + 1 - n];
        double sum = static_cast<double>(b[i]);
        sum += t0 * static_cast<double>(back_n);
        sum += t1 * static_cast<double>(back_n1);
        b[i] = static_cast<float>(sum);
    }
    if (count > n) {
        kernels_at(level).comb(b.data(), n, count, t0, t1);
    }
    if (count >= n) {
        std::copy(b.end() - static_cast<std::ptrdiff_t>(n), b.end(), history.begin());
    } else {
        // A block shorter than the history: the older outputs move down to make room.
        std::copy(history.begin() + static_cast<std::ptrdiff_t>(count), history.end(),
                  history.begin());
        std::copy(b.begin(), b.end(), history.end() - static_cast<std::ptrdiff_t>(count));
    }
}
