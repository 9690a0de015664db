#include "encoder/pipeline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <barrier>
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
#include "common/text_format.h"
#include "encoder/modulator.h"

namespace fs = std::filesystem;

namespace {

// Blocks in flight: one being read, one being encoded, one being written.
constexpr size_t kSets = 3;

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
        const fs::path where = folder.empty() ? fs::temp_directory_path(error) : fs::path(folder);
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
            file_ = std::fopen(candidate.c_str(), "w+bx");
            if (file_ != nullptr) {
                // Gone at once where an open file's name can be removed: nothing is left
                // behind even when the process is killed.
                if (!fs::remove(candidate, error) || error)
                    path_ = candidate.string();
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

// One pass over the input: the buffers, the division of the work among the threads, and the
// state of the block steps. In step s, block s is read, block s-1 encoded and block s-2
// written, each in a buffer set of its own; the threads meet between steps, where one of them
// takes stock (between_steps) while the others wait.
struct EncodePipeline::Pass {
    // What the pass does.
    WavStream* in = nullptr;
    WavStream* out = nullptr;
    std::FILE* copy_from = nullptr; // read the input from this 16-bit copy instead of `in`
    TempFile* copy_to = nullptr;    // first pass: keep a copy of the input here, until clipping
    TempFile* marked = nullptr;     // first pass: where blocks go once the peak passes 1
    std::string_view folder;        // where `marked` is made
    std::string_view payload;
    bool first = true;
    bool write = true; // write blocks at all
    float gain = 1.0f;
    int64_t block_limit = -1; // read at most this many blocks; -1: to the end of the input
    int32_t block = 0;        // frames of one block: one second
    size_t channels = 0;

    // Who does what: thread t encodes channels groups[t].first ... groups[t].second - 1.
    int32_t threads = 1;
    std::vector<std::pair<size_t, size_t>> groups;
    int32_t reader = 0;
    int32_t writer = 0;

    std::vector<EncoderChannel*> encoders;
    std::array<std::vector<float>, kSets> samples;
    std::array<std::vector<float*>, kSets> planes;
    std::array<std::vector<const float*>, kSets> sources;
    std::array<int32_t, kSets> counts{};
    std::vector<uint8_t> bytes; // a block as 16-bit samples, for the copy of the input

    // Results of a step, each written by the one thread that does the task.
    struct GroupResult {
        int32_t failed = -1; // channel whose encoder failed
        int32_t packets = 0;
        float peak = 0.0f;
        bool finite = true;
    };
    std::vector<GroupResult> results; // one per thread
    std::vector<int32_t> begun;       // one per channel
    bool read_failed = false;
    bool write_failed = false;

    // State between steps, changed only by between_steps.
    int64_t step = 0;
    int64_t last_block = -1; // the block that ends the pass, once read
    bool done = false;
    bool progress_due = false; // a one-second frame was completed in the step just ended
    PipelineOutcome outcome;
    int64_t frames_read = 0;
    int32_t frames_done = 0;
    int32_t packets = 0;
    float peak = 0.0f;
    bool finite = true;
    int64_t clip_block = -1; // first pass: the block whose peak first passes full scale
    int32_t prefix_packets = 0;
    float prefix_peak = 0.0f;

    bool reads() const { return last_block < 0; }
    bool encodes() const { return step >= 1 && (last_block < 0 || step - 1 <= last_block); }
    bool writes() const { return write && step >= 2 && (last_block < 0 || step - 2 <= last_block); }

    void read_block() noexcept {
        const size_t set = static_cast<size_t>(step) % kSets;
        int32_t got = 0;
        if (copy_from != nullptr) {
            const size_t frame_bytes = 2 * channels;
            got = static_cast<int32_t>(std::fread(bytes.data(), 1, bytes.size(), copy_from) /
                                       frame_bytes);
            pcm16_to_planar(bytes.data(), static_cast<size_t>(got), planes[set], 0);
        } else {
            got = wav_read_frames(*in, planes[set], block);
        }
        // Blocks from the clipping one on come from `marked`: their input is not needed again.
        // The copy holds the samples as the file does: x * 32768 is the 16-bit value exactly.
        if (copy_to != nullptr && clip_block < 0 && got > 0) {
            const size_t size = static_cast<size_t>(got) * 2 * channels;
            pcm16_from_planar(sources[set], 0, static_cast<size_t>(got), 32768.0, bytes.data());
            read_failed = std::fwrite(bytes.data(), 1, size, copy_to->file()) != size;
        }
        counts[set] = got;
    }

    void encode_block(int32_t thread) noexcept {
        const size_t set = static_cast<size_t>(step - 1) % kSets;
        const auto [begin, end] = groups[static_cast<size_t>(thread)];
        if (begin == end)
            return;
        const size_t n = static_cast<size_t>(counts[set]);
        const size_t size = end - begin;
        GroupResult& result = results[static_cast<size_t>(thread)];
        result = GroupResult{};
        const int32_t failed = encoder_process_channels(
            std::span<EncoderChannel* const>(encoders).subspan(begin, size),
            std::span<float* const>(planes[set]).subspan(begin, size), n, payload,
            std::span<int32_t>(begun).subspan(begin, size));
        if (failed >= 0) {
            result.failed = static_cast<int32_t>(begin) + failed;
            return;
        }
        for (size_t c = begin; c < end; ++c) {
            result.packets += begun[c];
            const std::optional<float> peak_of =
                audio_peak(std::span<const float>(sources[set][c], n));
            if (!peak_of)
                result.finite = false;
            else if (*peak_of > result.peak)
                result.peak = *peak_of;
        }
    }

    // As 16-bit samples while the peak allows; from the clipping block on, as floats, planar.
    void write_block() noexcept {
        const int64_t index = step - 2;
        const size_t set = static_cast<size_t>(index) % kSets;
        const int32_t n = counts[set];
        if (clip_block < 0 || index < clip_block) {
            write_failed = !wav_write_frames(*out, sources[set], gain, n);
            return;
        }
        if (marked->file() == nullptr && !marked->create(std::string(folder), "marked")) {
            write_failed = true;
            return;
        }
        for (size_t c = 0; c < channels && !write_failed; ++c) {
            write_failed = std::fwrite(sources[set][c], sizeof(float), static_cast<size_t>(n),
                                       marked->file()) != static_cast<size_t>(n);
        }
    }

    void run_step(int32_t thread) noexcept {
        if (thread == reader && reads())
            read_block();
        if (thread == writer && writes())
            write_block();
        if (encodes())
            encode_block(thread);
    }

    // Takes stock of the step just done, alone, while every thread waits.
    void between_steps() noexcept {
        progress_due = false;
        if (reads()) {
            const int32_t got = counts[static_cast<size_t>(step) % kSets];
            frames_read += got;
            if (got < block || (block_limit >= 0 && step + 1 >= block_limit))
                last_block = step;
            if (read_failed)
                outcome.failure = PipelineFailure::Write;
        }
        if (writes() && write_failed)
            outcome.failure = PipelineFailure::Write;
        if (encodes()) {
            const int32_t packets_before = packets;
            const float peak_before = peak;
            for (const GroupResult& result : results) {
                if (result.failed >= 0 && outcome.failure == PipelineFailure::None) {
                    outcome.failure = PipelineFailure::Channel;
                    outcome.failed_channel = result.failed;
                    outcome.failed_frame = frames_done;
                }
                packets += result.packets;
                finite = finite && result.finite;
                if (result.peak > peak)
                    peak = result.peak;
            }
            if (first && write && clip_block < 0 && peak > 1.0f) {
                clip_block = step - 1;
                prefix_packets = packets_before;
                prefix_peak = peak_before;
            }
            ++frames_done;
            progress_due = first;
        }
        // Samples that are not finite cannot be scaled: the run fails once the pass ends.
        if (!finite)
            write = false;
        done = outcome.failure != PipelineFailure::None ||
               (last_block >= 0 && step >= last_block + (write ? 2 : 1));
        ++step;
    }

    // Threads with nothing else to do encode; with fewer channels than threads one thread only
    // reads and writes. Channels are split into contiguous groups (pairs run side by side).
    void plan(int32_t thread_count) {
        threads = thread_count;
        const size_t encoding = std::min(channels, static_cast<size_t>(threads));
        groups.assign(static_cast<size_t>(threads), {0, 0});
        for (size_t g = 0; g < encoding; ++g)
            groups[g] = {g * channels / encoding, (g + 1) * channels / encoding};
        reader = encoding < static_cast<size_t>(threads) ? threads - 1 : 0;
        writer = threads - 1;
        results.assign(static_cast<size_t>(threads), GroupResult{});
    }
};

EncodePipeline::EncodePipeline(WavStream& in, WavStream& out,
                               std::vector<EncoderChannelPtr>& channels, std::string_view payload,
                               MakeChannel make_channel, PipelineOptions options)
    : in_(in), out_(out), channels_(channels), payload_(payload),
      make_channel_(std::move(make_channel)), options_(std::move(options)) {
    in_position_ = in_.position;
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
    pass.block = in_.rate;
    pass.channels = channels;
    try {
        for (const EncoderChannelPtr& channel : channels_)
            pass.encoders.push_back(channel.get());
        const size_t block = static_cast<size_t>(std::max(pass.block, 1));
        for (size_t set = 0; set < kSets; ++set) {
            pass.samples[set].resize(channels * block);
            for (size_t c = 0; c < channels; ++c) {
                pass.planes[set].push_back(pass.samples[set].data() + c * block);
                pass.sources[set].push_back(pass.planes[set].back());
            }
        }
        pass.begun.resize(channels);
        if (pass.copy_from != nullptr || pass.copy_to != nullptr)
            pass.bytes.resize(channels * block * 2);
    } catch (const std::bad_alloc&) {
        return {PipelineFailure::NoMemory};
    }

    // Helpers wait for the plan, which depends on how many of them could be started.
    std::atomic<int> go{0}; // 1: run, -1: leave
    std::vector<std::thread> helpers;
    struct Completion {
        Pass* pass;
        void operator()() noexcept { pass->between_steps(); }
    };
    std::optional<std::barrier<Completion>> meet;
    // Progress is reported by the first thread between steps, while the others go on.
    auto loop = [&pass, &meet, progress](int32_t thread) {
        for (;;) {
            pass.run_step(thread);
            meet->arrive_and_wait();
            if (thread == 0 && pass.progress_due && progress != nullptr)
                (*progress)(pass.frames_done, pass.packets);
            if (pass.done)
                return;
        }
    };
    const int32_t wanted = std::max(options_.threads, 1);
    try {
        for (int32_t t = 1; t < wanted; ++t) {
            helpers.emplace_back([&go, &loop, t] {
                go.wait(0);
                if (go.load() > 0)
                    loop(t);
            });
        }
    } catch (const std::exception&) {
        // Run on the threads that did start.
    }
    try {
        pass.plan(static_cast<int32_t>(helpers.size()) + 1);
        meet.emplace(pass.threads, Completion{&pass});
    } catch (const std::bad_alloc&) {
        go.store(-1);
        go.notify_all();
        for (std::thread& helper : helpers)
            helper.join();
        return {PipelineFailure::NoMemory};
    }
    go.store(1);
    go.notify_all();
    loop(0);
    for (std::thread& helper : helpers)
        helper.join();
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
    const PipelineOutcome outcome = run_pass(pass, progress ? &progress : nullptr);
    frames_read_ = pass.frames_read;
    packets_ = pass.packets;
    peak_ = pass.peak;
    finite_ = pass.finite;
    clip_block_ = pass.write ? pass.clip_block : 0;
    prefix_packets_ = pass.prefix_packets;
    prefix_peak_ = pass.prefix_peak;
    written_ = outcome.failure == PipelineFailure::None && pass.write && pass.clip_block < 0;
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
    // An output that cannot seek got nothing yet: every block is encoded again.
    const bool everything = out_start_ < 0;
    const int64_t blocks = everything ? -1 : clip_block_;
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
            channel = make_channel_();
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
                : pass.frames_read == blocks * in_.rate && pass.packets == prefix_packets_ &&
                      pass.peak == prefix_peak_;
        if (!same || !pass.finite)
            return {PipelineFailure::InputChanged};
    }
    if (everything)
        return {};
    return write_marked();
}

// Writes the blocks kept as floats from the clipping block on, scaled, after the others.
PipelineOutcome EncodePipeline::write_marked() {
    std::FILE* file = marked_.file();
    if (file == nullptr || std::fflush(file) != 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return {PipelineFailure::Write};
    const float gain = clipping_attenuation(peak_);
    const size_t channels = channels_.size();
    const auto block = static_cast<size_t>(in_.rate);
    std::vector<float> samples;
    std::vector<const float*> sources;
    try {
        samples.resize(channels * block);
        for (size_t c = 0; c < channels; ++c)
            sources.push_back(samples.data() + c * block);
    } catch (const std::bad_alloc&) {
        return {PipelineFailure::NoMemory};
    }
    int64_t left = frames_read_ - clip_block_ * in_.rate;
    while (left > 0) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(left, in_.rate));
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
