#pragma once
// Reads the input one block at a time ahead of the frame loop, on a thread of its own, so that
// the reads and the first writes into the freshly allocated audio (each new page of it costs
// the system a fault) run beside the encoding. The blocks land where inline reads would put
// them and are handed out in file order: the audio is the same either way.
//
//   ReadAhead reader(*in, audio.positions, rate, read_ahead_wanted());
//   do { got = reader.next(); /* block at the positions, `got` frames */ } while (got == rate);

#include <atomic>
#include <cstdint>
#include <span>
#include <thread>
#include <vector>

#include "common/wav.h"

// The environment variable that, set to 1, keeps the encoder on one thread.
inline constexpr const char* kThreadsEnvVar = "VEKMRK_THREADS";

// True when a reading thread can help: more than one processor, and VEKMRK_THREADS is not 1.
bool read_ahead_wanted() noexcept;

class ReadAhead {
public:
    // Blocks of `block` frames go to `positions` (one per channel), each block right after the
    // previous one; reading stops after the first block that is short. With `threaded` false, or
    // when no thread can be started, next() reads inline.
    ReadAhead(WavStream& in, std::span<float* const> positions, int32_t block, bool threaded);
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;
    ~ReadAhead(); // stops the thread and waits for it

    // The frames of the next block, once it is in place (0 after the end).
    int32_t next();

private:
    void run() noexcept;

    WavStream& in_;
    std::vector<float*> positions_; // where the reader puts its next block
    int32_t block_;
    std::vector<int32_t> counts_;  // frames of each block read so far
    std::atomic<size_t> ready_{0}; // blocks in place
    std::atomic<bool> stop_{false};
    size_t taken_ = 0;   // blocks handed out
    bool ended_ = false; // inline: a short block was read
    std::thread thread_;
};
