#include "encoder/pipeline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <limits>
#include <new>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include "common/pcm16.h"
#include "common/platform.h"
#include "common/text_format.h"
#include "encoder/modulator.h"

namespace fs = std::filesystem;

namespace {

// With threads, the reading thread reads this many blocks ahead of the envelopes, and the
// writing thread writes this many blocks behind them (more than two channels).
constexpr int64_t kReadAhead = 2;
constexpr int64_t kWriteBehind = 2;
// Buffer sets in the ring: at most this many, and as many as fit this many bytes (but never
// fewer than the blocks in flight).
constexpr size_t kMostSets = 8;
constexpr size_t kRingBytes = size_t{8} << 20;

} // namespace

// How the one-second frames are cut into blocks: each into `parts` blocks of `chunk` frames, the
// last part taking the rest of the second.
struct BlockSchedule {
    int32_t rate = 1;  // frames of one second
    int32_t chunk = 1; // frames of a block, at most `rate`
    int64_t parts = 1; // blocks per second
    BlockSchedule(int32_t frames_per_second, int32_t frames_per_block)
        : rate(std::max(frames_per_second, 1)), chunk(std::clamp(frames_per_block, 1, rate)),
          parts((rate + chunk - 1) / chunk) {}
    bool ends_second(int64_t b) const { return b % parts == parts - 1; }
    int32_t size(int64_t b) const {
        return ends_second(b) ? rate - static_cast<int32_t>(parts - 1) * chunk : chunk;
    }
    int64_t frames_before(int64_t b) const { return b / parts * rate + b % parts * chunk; }
};

namespace {

// Most threads the pipeline starts, whatever the machine or VEKMRK_THREADS offers.
constexpr int64_t kMaxThreads = 64;

// The file's offset when it can seek (a regular file), else -1 (a pipe or terminal).
long seekable_offset(std::FILE* file) {
    if (file == nullptr)
        return -1;
    const long at = std::ftell(file);
    if (at < 0 || std::fseek(file, at, SEEK_SET) != 0)
        return -1;
    return at;
}

} // namespace

int32_t pipeline_threads(int32_t channels) noexcept {
    if (!kAtomicWaitWorks)
        return 1;
    int64_t allowed = std::thread::hardware_concurrency();
    if (const char* setting = std::getenv(kThreadsEnvVar)) {
        char* end = nullptr;
        const long value = std::strtol(setting, &end, 10);
        if (end != setting && *end == '\0' && value > 0)
            allowed = value;
    }
    const int64_t useful = static_cast<int64_t>(channels) + 1;
    return static_cast<int32_t>(std::clamp<int64_t>(std::min(allowed, useful), 1, kMaxThreads));
}

std::optional<float> audio_peak(std::span<const float> samples) noexcept {
    // Lane by lane, so that the compiler runs the lanes side by side; NaN fails every
    // comparison, so it never becomes the peak and is caught by the count of finite values.
    constexpr size_t kLanes = 8;
    std::array<float, kLanes> peak{};
    std::array<int32_t, kLanes> finite{};
    const size_t whole = samples.size() - samples.size() % kLanes;
    for (size_t i = 0; i < whole; i += kLanes) {
        for (size_t j = 0; j < kLanes; ++j) {
            const float magnitude = std::fabs(samples[i + j]);
            peak[j] = magnitude > peak[j] ? magnitude : peak[j];
            finite[j] += magnitude <= std::numeric_limits<float>::max() ? 1 : 0;
        }
    }
    float largest = 0.0f;
    size_t finite_count = 0;
    for (size_t j = 0; j < kLanes; ++j) {
        largest = peak[j] > largest ? peak[j] : largest;
        finite_count += static_cast<size_t>(finite[j]);
    }
    for (size_t i = whole; i < samples.size(); ++i) {
        const float magnitude = std::fabs(samples[i]);
        largest = magnitude > largest ? magnitude : largest;
        finite_count += magnitude <= std::numeric_limits<float>::max() ? 1 : 0;
    }
    if (finite_count != samples.size())
        return {};
    return largest;
}

float clipping_attenuation(float peak) noexcept {
    return peak > 1.0f ? 1.0f / peak : 1.0f;
}

bool TempFile::create(const std::string& folder, const char* kind) noexcept {
    close();
    try {
        std::error_code error;
        const fs::path where =
            folder.empty() ? fs::temp_directory_path(error) : path_from_utf8(folder);
        if (error)
            return false;
        std::random_device entropy;
        std::mt19937_64 draw((static_cast<uint64_t>(entropy()) << 32) ^
                             static_cast<uint64_t>(std::time(nullptr)));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const fs::path candidate =
                where / text_format(".vekmrk-%s-%08llx.tmp", kind,
                                    static_cast<unsigned long long>(draw() & 0xFFFFFFFFu));
            // "x": fails when the name exists, so no other file is ever overwritten.
            file_ = file_open_path(candidate, "w+bx");
            if (file_ != nullptr) {
                // Gone at once where an open file's name can be removed: nothing is left
                // behind even when the process is killed.
                if (!fs::remove(candidate, error) || error)
                    path_ = path_to_utf8(candidate);
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
    } catch (const std::exception&) {
    }
    return false;
}

void TempFile::close() noexcept {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
    if (!path_.empty()) {
        std::error_code error;
        fs::remove(path_, error);
        path_.clear();
    }
}

// One pass over the input. Every thread walks the blocks in order doing its share: for block b
// the reading thread reads block b + read_ahead, the predictors' threads compute the envelopes
// of block b, the marking threads add the chips to block b - modulate_behind, and the writing
// thread takes stock of block b - write_behind (packets, peak, progress) and writes it. A block
// lives in one of a ring of buffer sets from its read until it is written, so a thread may run
// a few blocks ahead of another: a thread that the system pauses for a moment does not stop
// the others at once.
struct EncodePipeline::Pass {
    // What the pass does.
    WavStream* in = nullptr;
    WavStream* out = nullptr;
    std::FILE* copy_from = nullptr; // read the input from this 16-bit copy instead of `in`
    TempFile* copy_to = nullptr;    // first pass: keep a copy of the input here, until clipping
    TempFile* marked = nullptr;     // first pass: where blocks go once the peak passes 1
    // First pass: every block also goes to `marked` (from the first on), so that clipping
    // found later needs no second encoding. Dropped when the temporary file cannot take them.
    bool keep_all = false;
    int64_t kept_from = -1;  // the first block in `marked`
    std::string_view folder; // where `marked` is made
    std::string_view payload;
    const Progress* progress = nullptr;
    bool first = true;
    bool write = true; // write blocks at all
    float gain = 1.0f;
    int64_t block_limit = -1; // read at most this many blocks; -1: to the end of the input
    const BlockSchedule* schedule = nullptr;
    size_t channels = 0;

    // Who does what: thread t runs the predictors of channels envelope_groups[t] (first ...
    // second - 1) and adds the chips of channels modulate_groups[t], once the threads
    // envelope_threads[t] have their envelopes. In the walk over the blocks the reader reads
    // read_ahead blocks ahead of the envelopes, the chips are added modulate_behind blocks
    // behind them and the writer writes write_behind blocks behind them.
    int32_t threads = 1;
    std::vector<std::pair<size_t, size_t>> envelope_groups;
    std::vector<std::pair<size_t, size_t>> modulate_groups;
    std::vector<std::vector<int32_t>> envelope_threads;
    int32_t reader = 0;
    int32_t writer = 0;
    int64_t read_ahead = 0;
    int64_t modulate_behind = 0;
    int64_t write_behind = 0;

    struct GroupResult {
        int32_t failed = -1; // channel whose encoder failed
        int32_t packets = 0;
        float peak = 0.0f;
        bool finite = true;
    };
    struct Slot {
        std::vector<float> samples; // the block, planar, then the envelopes
        std::vector<float*> planes;
        std::vector<const float*> sources;
        std::vector<float*> envelopes;
        int32_t count = 0;                // frames of the block
        std::vector<GroupResult> results; // one per thread
    };
    std::vector<Slot> ring;
    std::vector<EncoderChannel*> encoders;
    std::vector<uint8_t> bytes; // the reader's block as 16-bit samples, for the input copy

    // What the threads have done: blocks read, blocks encoded by each thread, blocks written.
    // Every change bumps `epoch`, on which waiting threads sleep.
    std::atomic<int64_t> read_count{0};
    std::unique_ptr<std::atomic<int64_t>[]> enveloped; // one per thread
    std::unique_ptr<std::atomic<int64_t>[]> modulated; // one per thread
    std::atomic<int64_t> written{0};
    std::atomic<int64_t> last_block{-1}; // the block that ends the pass, once read
    std::atomic<int64_t> clip_block{-1}; // first pass: the block whose peak first passes 1
    std::atomic<bool> stop{false};
    std::atomic<int> failure_met{static_cast<int>(PipelineFailure::None)};
    std::atomic<uint64_t> epoch{0};

    // The reader's own.
    int64_t frames_read = 0;
    // The writing thread's own: the totals, taken block by block in order.
    PipelineOutcome outcome;
    int32_t frames_done = 0;
    int32_t frames_of_frame = 0; // sample frames of the one-second frame under way
    int32_t packets = 0;
    float peak = 0.0f;
    bool finite = true;
    int32_t prefix_packets = 0;
    float prefix_peak = 0.0f;

    void announce() noexcept {
        epoch.fetch_add(1);
        epoch.notify_all();
    }
    // The first failure met ends the pass for every thread.
    void fail(PipelineFailure failure) noexcept {
        int none = static_cast<int>(PipelineFailure::None);
        failure_met.compare_exchange_strong(none, static_cast<int>(failure));
        stop.store(true);
        announce();
    }
    // Sleeps until `ready` holds; false when the pass stops first.
    template <typename Ready> bool wait_until(Ready ready) noexcept {
        for (;;) {
            const uint64_t seen = epoch.load();
            if (stop.load())
                return false;
            if (ready())
                return true;
            epoch.wait(seen);
        }
    }
    bool past_end(int64_t b) const noexcept {
        const int64_t last = last_block.load();
        return last >= 0 && b > last;
    }
    Slot& slot(int64_t b) noexcept { return ring[static_cast<size_t>(b) % ring.size()]; }

    // Reads block b into its set once the block that set held is written.
    bool read_block(int64_t b, PipelineFailure& failure) noexcept {
        if (past_end(b))
            return true;
        const auto sets = static_cast<int64_t>(ring.size());
        if (!wait_until([&] { return written.load() > b - sets; }))
            return false;
        Slot& s = slot(b);
        int32_t got = 0;
        if (copy_from != nullptr) {
            const size_t frame_bytes = 2 * channels;
            const size_t wanted = static_cast<size_t>(schedule->size(b)) * frame_bytes;
            got =
                static_cast<int32_t>(std::fread(bytes.data(), 1, wanted, copy_from) / frame_bytes);
            pcm16_to_planar(bytes.data(), static_cast<size_t>(got), s.planes, 0);
        } else {
            got = wav_read_frames(*in, s.planes, schedule->size(b));
        }
        // Blocks from the clipping one on come from `marked`: their input is not needed again.
        // The copy holds the samples as the file does: x * 32768 is the 16-bit value exactly.
        if (copy_to != nullptr && clip_block.load() < 0 && got > 0) {
            const size_t size = static_cast<size_t>(got) * 2 * channels;
            pcm16_from_planar(s.sources, 0, static_cast<size_t>(got), 32768.0, bytes.data());
            if (std::fwrite(bytes.data(), 1, size, copy_to->file()) != size) {
                failure = PipelineFailure::Write;
                return false;
            }
        }
        s.count = got;
        frames_read += got;
        if (got < schedule->size(b) || (block_limit >= 0 && b + 1 >= block_limit))
            last_block.store(b);
        read_count.store(b + 1);
        announce();
        return true;
    }

    // The envelopes of this thread's channels of block b: the predictors' work.
    bool envelope_block(int32_t thread, int64_t b) noexcept {
        const auto [begin, end] = envelope_groups[static_cast<size_t>(thread)];
        if (begin == end)
            return true;
        if (!wait_until([&] { return read_count.load() > b || past_end(b); }))
            return false;
        if (!past_end(b)) {
            Slot& s = slot(b);
            const size_t size = end - begin;
            encoder_envelope_channels(
                std::span<EncoderChannel* const>(encoders).subspan(begin, size),
                std::span<const float* const>(s.sources).subspan(begin, size),
                static_cast<size_t>(s.count),
                std::span<float* const>(s.envelopes).subspan(begin, size),
                schedule->ends_second(b));
        }
        enveloped[static_cast<size_t>(thread)].store(b + 1);
        announce();
        return true;
    }

    // The chips added to this thread's channels of block b, and their peak.
    bool modulate_block(int32_t thread, int64_t b) noexcept {
        const auto [begin, end] = modulate_groups[static_cast<size_t>(thread)];
        if (b < 0 || begin == end)
            return true;
        auto ready = [&] {
            if (past_end(b))
                return true;
            for (const int32_t t : envelope_threads[static_cast<size_t>(thread)]) {
                if (enveloped[static_cast<size_t>(t)].load() <= b)
                    return false;
            }
            return true;
        };
        if (!wait_until(ready))
            return false;
        if (!past_end(b)) {
            Slot& s = slot(b);
            const auto n = static_cast<size_t>(s.count);
            GroupResult& result = s.results[static_cast<size_t>(thread)];
            result = GroupResult{};
            for (size_t c = begin; c < end; ++c) {
                const int32_t begun =
                    encoder_modulate(*encoders[c], std::span<float>(s.planes[c], n),
                                     std::span<const float>(s.envelopes[c], n), payload);
                if (begun < 0) {
                    result.failed = static_cast<int32_t>(c);
                    break;
                }
                result.packets += begun;
                const std::optional<float> peak_of =
                    audio_peak(std::span<const float>(s.sources[c], n));
                if (!peak_of)
                    result.finite = false;
                else if (*peak_of > result.peak)
                    result.peak = *peak_of;
            }
        }
        modulated[static_cast<size_t>(thread)].store(b + 1);
        announce();
        return true;
    }

    // Takes stock of block b once every thread has encoded it, reports progress, and writes it:
    // as 16-bit samples while the peak allows; from the clipping block on, as floats, planar.
    bool write_block(int64_t b, PipelineFailure& failure) noexcept {
        if (b < 0 || past_end(b))
            return true;
        auto done = [&] {
            if (past_end(b))
                return true;
            for (int32_t t = 0; t < threads; ++t) {
                const auto [begin, end] = modulate_groups[static_cast<size_t>(t)];
                if (begin != end && modulated[static_cast<size_t>(t)].load() <= b)
                    return false;
            }
            return true;
        };
        if (!wait_until(done))
            return false;
        if (past_end(b))
            return true;
        Slot& s = slot(b);
        const int32_t packets_before = packets;
        const float peak_before = peak;
        for (const GroupResult& result : s.results) {
            if (result.failed >= 0) {
                outcome.failed_channel = result.failed;
                outcome.failed_frame = frames_done;
                failure = PipelineFailure::Channel;
                return false;
            }
            packets += result.packets;
            finite = finite && result.finite;
            if (result.peak > peak)
                peak = result.peak;
        }
        // A frame is done at the end of each second and at the end of the input.
        frames_of_frame += s.count;
        if (schedule->ends_second(b) || b == last_block.load()) {
            ++frames_done;
            if (first && progress != nullptr)
                (*progress)(frames_done, packets, frames_of_frame);
            frames_of_frame = 0;
        }
        if (first && write && clip_block.load() < 0 && peak > 1.0f) {
            clip_block.store(b);
            prefix_packets = packets_before;
            prefix_peak = peak_before;
        }
        // Samples that are not finite cannot be scaled: the run fails once the pass ends.
        if (!finite)
            write = false;
        if (write) {
            const int64_t clip = clip_block.load();
            const bool direct = clip < 0 || b < clip;
            if (direct && !wav_write_frames(*out, s.sources, gain, s.count)) {
                failure = PipelineFailure::Write;
                return false;
            }
            // From the clipping block on the kept floats are the only copy; before it, a
            // failure to keep them only costs the second encoding.
            if ((keep_all || !direct) && !keep(s, b)) {
                if (!direct) {
                    failure = PipelineFailure::Write;
                    return false;
                }
                keep_all = false;
                marked->close();
                kept_from = -1;
            }
        }
        written.store(b + 1);
        announce();
        return true;
    }

    // Appends the marked samples of block b to `marked` as floats, planar.
    bool keep(const Slot& s, int64_t b) noexcept {
        if (marked->file() == nullptr) {
            if (!marked->create(std::string(folder), "marked"))
                return false;
            kept_from = b;
        }
        const auto n = static_cast<size_t>(s.count);
        for (size_t c = 0; c < channels; ++c) {
            if (std::fwrite(s.sources[c], sizeof(float), n, marked->file()) != n)
                return false;
        }
        return true;
    }

    // The work of one thread, block after block, until the pass ends or stops.
    void run(int32_t thread) noexcept {
        PipelineFailure failure = PipelineFailure::None;
        for (int64_t b = 0;; ++b) {
            bool going = true;
            // The reader starts with the blocks it reads ahead.
            for (int64_t r = b == 0 ? 0 : b + read_ahead;
                 going && thread == reader && r <= b + read_ahead; ++r)
                going = read_block(r, failure);
            if (going)
                going = envelope_block(thread, b);
            if (going)
                going = modulate_block(thread, b - modulate_behind);
            if (going && thread == writer)
                going = write_block(b - write_behind, failure);
            if (!going) {
                // Only the thread that met a failure names it; the others merely stop.
                if (failure != PipelineFailure::None)
                    fail(failure);
                return;
            }
            const int64_t last = last_block.load();
            if (last >= 0 && b >= last + write_behind)
                return;
        }
    }

    // One or two channels: the first thread runs the predictors (two side by side take little
    // more time than one) and the second does everything else. More channels: every thread
    // runs the predictors of a contiguous group of channels (in pairs) and adds their chips;
    // the last one also reads and writes.
    void plan(int32_t thread_count) {
        threads = thread_count;
        const auto count = static_cast<size_t>(threads);
        envelope_groups.assign(count, {0, 0});
        modulate_groups.assign(count, {0, 0});
        envelope_threads.assign(count, {});
        reader = writer = threads - 1;
        if (threads == 1) {
            envelope_groups[0] = modulate_groups[0] = {0, channels};
            envelope_threads[0] = {0};
            return;
        }
        if (channels <= 2) {
            envelope_groups[0] = {0, channels};
            modulate_groups[1] = {0, channels};
            envelope_threads[1] = {0};
            read_ahead = kReadAhead;
            modulate_behind = 1;
            write_behind = 1;
            return;
        }
        // Groups of whole pairs (the last channel of an odd count alone).
        const size_t pairs = (channels + 1) / 2;
        const size_t groups = std::min(pairs, count);
        for (size_t g = 0; g < groups; ++g) {
            const size_t begin = 2 * (g * pairs / groups);
            const size_t end = std::min(channels, 2 * ((g + 1) * pairs / groups));
            envelope_groups[g] = modulate_groups[g] = {begin, end};
            envelope_threads[g] = {static_cast<int32_t>(g)};
        }
        read_ahead = kReadAhead;
        write_behind = kWriteBehind;
    }
};

EncodePipeline::EncodePipeline(WavStream& in, WavStream& out,
                               std::vector<EncoderChannelPtr>& channels, std::string_view payload,
                               MakeChannel make_channel, PipelineOptions options)
    : in_(in), out_(out), channels_(channels), payload_(payload),
      make_channel_(std::move(make_channel)), options_(std::move(options)) {
    in_position_ = in_.position;
    // Blocks of one second, or shorter ones when a second of every channel (samples and
    // envelopes, in every buffer set the threads need) would not fit the ring's budget.
    const size_t frame_bytes = 2 * channels_.size() * sizeof(float);
    const auto sets = static_cast<size_t>(options_.threads > 1 ? kReadAhead + kWriteBehind + 1 : 1);
    const size_t fit = kRingBytes / std::max<size_t>(1, frame_bytes * sets);
    schedule_ = std::make_unique<BlockSchedule>(
        in_.rate, static_cast<int32_t>(std::min<size_t>(fit, static_cast<size_t>(in_.rate))));
    in_start_ = seekable_offset(in_.file);
    out_start_ = seekable_offset(out_.file);
}

EncodePipeline::~EncodePipeline() = default;

std::optional<float> EncodePipeline::peak() const noexcept {
    if (!finite_)
        return {};
    return peak_;
}

PipelineOutcome EncodePipeline::run_pass(Pass& pass, const Progress* progress) {
    const size_t channels = channels_.size();
    pass.in = &in_;
    pass.out = &out_;
    pass.payload = payload_;
    pass.folder = options_.spool_folder;
    pass.progress = progress;
    pass.schedule = schedule_.get();
    pass.channels = channels;

    // Helpers wait for the plan, which depends on how many of them could be started.
    std::atomic<int> go{0}; // 1: run, -1: leave
    std::vector<std::thread> helpers;
    const int32_t wanted = std::max(options_.threads, 1);
    try {
        for (int32_t t = 1; t < wanted; ++t) {
            helpers.emplace_back([&go, &pass, t] {
                go.wait(0);
                if (go.load() > 0)
                    pass.run(t);
            });
        }
    } catch (const std::exception&) {
        // Run on the threads that did start.
    }
    auto leave = [&](int how) {
        go.store(how);
        go.notify_all();
        if (how > 0)
            pass.run(0);
        for (std::thread& helper : helpers)
            helper.join();
    };
    try {
        pass.plan(static_cast<int32_t>(helpers.size()) + 1);
        const auto block = static_cast<size_t>(schedule_->chunk);
        // Room for a thread to run ahead of another, within a budget for many channels.
        const size_t minimum = static_cast<size_t>(pass.read_ahead + pass.write_behind + 1);
        const size_t affordable =
            kRingBytes / std::max<size_t>(1, 2 * channels * block * sizeof(float));
        const size_t sets = pass.threads > 1 ? std::clamp(affordable, minimum, kMostSets) : 1;
        pass.ring.resize(sets);
        for (Pass::Slot& slot : pass.ring) {
            slot.samples.resize(2 * channels * block);
            for (size_t c = 0; c < channels; ++c) {
                slot.planes.push_back(slot.samples.data() + c * block);
                slot.sources.push_back(slot.planes.back());
                slot.envelopes.push_back(slot.samples.data() + (channels + c) * block);
            }
            slot.results.resize(static_cast<size_t>(pass.threads));
        }
        for (const EncoderChannelPtr& channel : channels_)
            pass.encoders.push_back(channel.get());
        const auto threads = static_cast<size_t>(pass.threads);
        pass.enveloped = std::make_unique<std::atomic<int64_t>[]>(threads);
        pass.modulated = std::make_unique<std::atomic<int64_t>[]>(threads);
        if (pass.copy_from != nullptr || pass.copy_to != nullptr)
            pass.bytes.resize(channels * block * 2);
    } catch (const std::bad_alloc&) {
        leave(-1);
        return {PipelineFailure::NoMemory};
    }
    leave(1);
    pass.outcome.failure = static_cast<PipelineFailure>(pass.failure_met.load());
    return pass.outcome;
}

PipelineOutcome EncodePipeline::first_pass(const Progress& progress) {
    first_done_ = true;
    if (in_start_ < 0 && !input_copy_.create(options_.spool_folder, "input"))
        return {PipelineFailure::Write};
    Pass pass;
    pass.first = true;
    pass.write = out_start_ >= 0;
    pass.copy_to = in_start_ < 0 ? &input_copy_ : nullptr;
    pass.marked = &marked_;
    pass.keep_all = pass.write && options_.keep_marked;
    const PipelineOutcome outcome = run_pass(pass, progress ? &progress : nullptr);
    frames_read_ = pass.frames_read;
    packets_ = pass.packets;
    peak_ = pass.peak;
    finite_ = pass.finite;
    clip_block_ = pass.write ? pass.clip_block.load() : 0;
    prefix_packets_ = pass.prefix_packets;
    prefix_peak_ = pass.prefix_peak;
    written_ = outcome.failure == PipelineFailure::None && pass.write && clip_block_ < 0;
    kept_from_ = pass.kept_from;
    if (written_)
        marked_.close();
    return outcome;
}

PipelineOutcome EncodePipeline::finish() {
    if (!first_done_ || !finite_)
        return {PipelineFailure::InputChanged};
    if (written_)
        return {};
    if (out_start_ >= 0) {
        if (std::fseek(out_.file, out_start_, SEEK_SET) != 0)
            return {PipelineFailure::Write};
        out_.frames = 0;
        out_.position = 0;
    }
    const float gain = clipping_attenuation(peak_);
    // An output that cannot seek got nothing yet: every block is encoded again. Else the
    // blocks before the kept ones are.
    const bool everything = out_start_ < 0;
    const int64_t blocks = everything ? -1 : kept_from_;
    if (blocks != 0) {
        if (input_copy_.file() != nullptr) {
            if (std::fflush(input_copy_.file()) != 0 ||
                std::fseek(input_copy_.file(), 0, SEEK_SET) != 0)
                return {PipelineFailure::Write};
        } else if (in_start_ < 0 || std::fseek(in_.file, in_start_, SEEK_SET) != 0) {
            return {PipelineFailure::InputChanged};
        }
        in_.position = in_position_;
        for (EncoderChannelPtr& channel : channels_) {
            channel = &channel == &channels_.front() ? make_channel_()
                                                     : encoder_create_sibling(*channels_.front());
            if (!channel)
                return {PipelineFailure::NoMemory};
        }
        Pass pass;
        pass.first = false;
        pass.gain = gain;
        pass.block_limit = blocks;
        pass.copy_from = input_copy_.file();
        const PipelineOutcome outcome = run_pass(pass, nullptr);
        if (outcome.failure != PipelineFailure::None)
            return outcome;
        // The same input gives the same marked samples: anything else means it changed.
        const bool same =
            everything
                ? pass.frames_read == frames_read_ && pass.packets == packets_ && pass.peak == peak_
                : pass.frames_read == schedule_->frames_before(blocks) &&
                      pass.packets == prefix_packets_ && pass.peak == prefix_peak_;
        if (!same || !pass.finite)
            return {PipelineFailure::InputChanged};
    }
    if (everything)
        return {};
    return write_marked();
}

// Writes the blocks kept as floats, scaled, after the others.
PipelineOutcome EncodePipeline::write_marked() {
    std::FILE* file = marked_.file();
    if (file == nullptr || std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return {PipelineFailure::Write};
    const float gain = clipping_attenuation(peak_);
    const size_t channels = channels_.size();
    const auto block = static_cast<size_t>(schedule_->chunk);
    std::vector<float> samples;
    std::vector<const float*> sources;
    try {
        samples.resize(channels * block);
        for (size_t c = 0; c < channels; ++c)
            sources.push_back(samples.data() + c * block);
    } catch (const std::bad_alloc&) {
        return {PipelineFailure::NoMemory};
    }
    int64_t left = frames_read_ - schedule_->frames_before(kept_from_);
    for (int64_t b = kept_from_; left > 0; ++b) {
        const auto n = static_cast<size_t>(std::min<int64_t>(left, schedule_->size(b)));
        for (size_t c = 0; c < channels; ++c) {
            if (std::fread(samples.data() + c * block, sizeof(float), n, file) != n)
                return {PipelineFailure::Write};
        }
        if (!wav_write_frames(out_, sources, gain, static_cast<int32_t>(n)))
            return {PipelineFailure::Write};
        left -= static_cast<int64_t>(n);
    }
    marked_.close();
    return {};
}
