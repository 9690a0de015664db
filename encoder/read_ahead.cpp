#include "encoder/read_ahead.h"

#include <cstdlib>
#include <string_view>
#include <system_error>

#include "common/platform.h"

bool read_ahead_wanted() noexcept {
    if (!kAtomicWaitWorks)
        return false;
    const char* setting = std::getenv(kThreadsEnvVar);
    if (setting != nullptr && std::string_view(setting) == "1")
        return false;
    return std::thread::hardware_concurrency() > 1;
}

ReadAhead::ReadAhead(WavStream& in, std::span<float* const> positions, int32_t block, bool threaded)
    : in_(in), positions_(positions.begin(), positions.end()), block_(block) {
    if (!threaded || block < 1)
        return;
    // One count per block: the whole blocks, then the short or empty one that ends the file.
    const int32_t left = in.frames - in.position;
    counts_.resize(static_cast<size_t>(left / block) + 1);
    try {
        thread_ = std::thread(&ReadAhead::run, this);
    } catch (const std::system_error&) {
        counts_.clear(); // read inline
    }
}

ReadAhead::~ReadAhead() {
    if (thread_.joinable()) {
        stop_.store(true, std::memory_order_relaxed);
        thread_.join();
    }
}

void ReadAhead::run() noexcept {
    for (size_t b = 0; b < counts_.size() && !stop_.load(std::memory_order_relaxed); ++b) {
        const int32_t got = wav_read_frames(in_, positions_, block_);
        for (float*& p : positions_)
            p += got;
        counts_[b] = got;
        ready_.store(b + 1, std::memory_order_release);
        ready_.notify_one();
        if (got < block_)
            return;
    }
}

int32_t ReadAhead::next() {
    if (!thread_.joinable()) {
        if (ended_)
            return 0;
        const int32_t got = wav_read_frames(in_, positions_, block_);
        for (float*& p : positions_)
            p += got;
        ended_ = got < block_;
        return got;
    }
    if (taken_ >= counts_.size())
        return 0;
    for (size_t ready = ready_.load(std::memory_order_acquire); ready <= taken_;
         ready = ready_.load(std::memory_order_acquire)) {
        ready_.wait(ready, std::memory_order_acquire);
    }
    const int32_t got = counts_[taken_++];
    if (got < block_)
        taken_ = counts_.size();
    return got;
}
