#pragma once
// The encoder's frame loop, streamed. The input is read one block (a second, or a part of one
// when the channels are many) at a time into a few buffers that are reused, every channel's
// encoder watermarks the block, the peak of the marked signal is tracked, and the block goes to
// the output at once: memory stays flat however long the input is and whatever its channel
// count. When the machine has processors to spare, the predictors (the costly part) run on
// threads of their own while another thread reads, adds the chips and writes (channels share
// nothing); the marked samples are the same on any number of threads.
//
// Clipping prevention scales the whole output by 1 / peak when the peak of the complete marked
// signal exceeds full scale, which is known only at the end. While the peak stays within full
// scale, the blocks are written as they come, and for most inputs that first pass is the output.
// Every marked block also goes to a temporary file as floats (from the block where the peak
// first passes full scale on, only there). finish() then writes the output again, scaled, from
// that file: a rescale, not a second encoding. Should the file fail to take the blocks before
// the clipping one, those are read and encoded a second time with fresh channel encoders (the
// encoder is deterministic, so the marked samples are the same).
// An input that cannot seek (a pipe) is kept as 16-bit samples in a temporary file until the
// peak passes full scale, for that second pass; an output that cannot seek receives nothing
// until finish() encodes the whole input again. Temporary files are made in the folder the
// options name and removed at once where the system allows (else at the end).
//
//   EncodePipeline pipeline(*in, *out, encoders, payload, make_channel, options);
//   PipelineOutcome run = pipeline.first_pass([](int32_t frames_done, int32_t packets) {...});
//   std::optional<float> peak = pipeline.peak();   // empty: a marked sample is not finite
//   run = pipeline.finish();                       // the second pass, when one is needed
//   wav_close(out.release());                      // completes the header

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/wav.h"
#include "encoder/encoder_channel.h"

// The environment variable that sets the encoder's threads: 1 keeps it on one thread, another
// positive number allows that many; unset, it uses every processor that helps.
inline constexpr const char* kThreadsEnvVar = "VEKMRK_THREADS";

// The threads worth running for `channels` channels: one per channel plus one for reading and
// writing, at most the processors there are (or what VEKMRK_THREADS allows), at least one.
int32_t pipeline_threads(int32_t channels) noexcept;

// The largest absolute sample value (0 for no samples); empty when a sample is not finite.
std::optional<float> audio_peak(std::span<const float> samples) noexcept;

// The gain the output is written with: 1 / peak in single precision when the peak exceeds full
// scale (1.0), else 1.0.
float clipping_attenuation(float peak) noexcept;

enum class PipelineFailure {
    None,
    Channel,      // a channel's encoder failed (short memory): failed_channel, failed_frame
    NoMemory,     // buffers, threads' state or the second pass's encoders
    Write,        // the output (or the temporary copy of the input) could not be written
    InputChanged, // the second pass read other audio than the first: the input changed meanwhile
};

struct PipelineOutcome {
    PipelineFailure failure = PipelineFailure::None;
    int32_t failed_channel = -1; // Channel: the channel whose encoder failed
    int32_t failed_frame = 0;    // Channel: the one-second frames done before the failing one
};

struct PipelineOptions {
    int32_t threads = 1;      // threads to run on (pipeline_threads), 1 or more
    std::string spool_folder; // where temporary files go: beside the output
    // Keep every marked block as floats in a temporary file (while the output can seek), so
    // that clipping found late needs no second encoding; off, only the blocks from the
    // clipping one on are kept and the others are encoded again.
    bool keep_marked = true;
};

// A temporary file for update, made in a given folder with a fresh name; its name is removed at
// once where the system allows an open file's name to go, else when it is closed.
class TempFile {
public:
    TempFile() = default;
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() { close(); }
    // False when no file can be made in `folder` (the system's temporary folder when empty).
    bool create(const std::string& folder, const char* kind) noexcept;
    void close() noexcept;
    std::FILE* file() const noexcept { return file_; }

private:
    std::FILE* file_ = nullptr;
    std::string path_; // the name still to remove, if any
};

struct BlockSchedule;

class EncodePipeline {
public:
    using MakeChannel = std::function<EncoderChannelPtr()>;
    using Progress =
        std::function<void(int32_t frames_done, int32_t packets, int32_t frames_of_frame)>;

    // `in` positioned at its first sample, `out` just created (nothing written yet); `channels`
    // holds one fresh encoder per input channel and is refilled for a second pass: the first by
    // `make_channel`, the others as its siblings. Everything passed in must outlive the
    // pipeline.
    EncodePipeline(WavStream& in, WavStream& out, std::vector<EncoderChannelPtr>& channels,
                   std::string_view payload, MakeChannel make_channel, PipelineOptions options);
    EncodePipeline(const EncodePipeline&) = delete;
    EncodePipeline& operator=(const EncodePipeline&) = delete;
    ~EncodePipeline(); // removes the temporary files, if any

    // Reads, watermarks and (while the peak allows) writes the whole input, one-second frame
    // after frame; after each frame calls `progress` with the frames done so far (the last,
    // short or empty frame included), the packets begun on all channels and the sample frames
    // of the frame just done. `progress` runs on
    // one of the pipeline's threads, one call at a time, while the caller's thread waits.
    PipelineOutcome first_pass(const Progress& progress);

    // The peak of the whole marked signal after first_pass; empty when a sample is not finite.
    std::optional<float> peak() const noexcept;
    // Sample frames read by first_pass: fewer than the input announced when it shrank meanwhile.
    int64_t frames_read() const noexcept { return frames_read_; }
    int32_t packets() const noexcept { return packets_; }

    // Completes the output: nothing when first_pass wrote it all; otherwise writes every block
    // with gain clipping_attenuation(peak). Only after a first_pass that succeeded with a
    // finite peak.
    PipelineOutcome finish();

private:
    struct Pass;
    PipelineOutcome run_pass(Pass& pass, const Progress* progress);
    PipelineOutcome write_marked();

    WavStream& in_;
    WavStream& out_;
    std::vector<EncoderChannelPtr>& channels_;
    std::string payload_;
    MakeChannel make_channel_;
    PipelineOptions options_;
    std::unique_ptr<BlockSchedule> schedule_; // how frames are cut into blocks
    int32_t in_position_ = 0;                 // the input's frame position at its first sample
    long in_start_ = -1;  // file offset of the input's first sample; -1: cannot seek
    long out_start_ = -1; // file offset of the output's first sample; -1: cannot seek
    TempFile input_copy_; // the input as 16-bit samples, when it cannot seek
    TempFile marked_;     // marked samples as floats, from kept_from_ on
    bool first_done_ = false;
    bool written_ = false;       // the first pass wrote the complete output
    int64_t clip_block_ = -1;    // first block after which the peak exceeds full scale
    int64_t kept_from_ = -1;     // first block in marked_ (0: all of them)
    int32_t prefix_packets_ = 0; // packets begun before clip_block_
    float prefix_peak_ = 0.0f;   // peak of the blocks before clip_block_
    int64_t frames_read_ = 0;
    int32_t packets_ = 0;
    float peak_ = 0.0f;
    bool finite_ = true;
};
