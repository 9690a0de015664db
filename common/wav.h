#pragma once
// 16-bit PCM RIFF/WAVE files, read frame by frame into planar float arrays and
// written back from them.
//
//   WavStreamPtr in = wav_open_read("in.wav");          // empty: not a 16-bit PCM WAV file
//   std::vector<float> left(n), right(n);
//   float* planes[] = {left.data(), right.data()};
//   int32_t got = wav_read_frames(*in, planes, n);       // 0 at the end of the audio
//
//   WavStreamPtr out = wav_open_write("out.wav", 2, 16, in->rate);
//   const float* src[] = {left.data(), right.data()};
//   wav_write_frames(*out, src, 1.0f, got);
//   bool ok = wav_close(out.release());                 // completes the header sizes
//
// A sample s of the file reads as s / 32768; a float x is written as the integer nearest to
// gain * 32767 * x (halves go up). Header fields and samples are little-endian and packed
// byte by byte.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct WavStream {
    std::string path;          // file name given at open
    std::FILE* file = nullptr; // the open file
    char mode = 'r';           // 'r' reading, 'w' writing
    int32_t channels = 0;      // interleaved channels C
    int32_t bits = 16;         // bits per sample
    int32_t rate = 0;          // sampling rate in Hz
    int32_t frames = 0;        // reading: frames present in the data chunk; writing: written
    int32_t position = 0;      // frames read or written so far
    std::vector<uint8_t> frame_buffer; // interleaved 16-bit samples of a block of frames
    bool failed = false;               // writing: a write failed or was refused; the file is bad
};

// Closes the file; for a written stream completes the RIFF and data sizes first (through the
// open handle). Returns true on success, false when a written file could not be completed (an
// earlier write, the header update, a flush or the close failed) or the stream is null; a
// failed file keeps the placeholder sizes 36 and 0. Frees the stream.
// A stream opened for reading closes with true.
bool wav_close(WavStream* stream) noexcept;

struct WavStreamDeleter {
    void operator()(WavStream* s) const noexcept { wav_close(s); }
};
using WavStreamPtr = std::unique_ptr<WavStream, WavStreamDeleter>;

// Opens a 16-bit PCM WAV file positioned at its first sample. Empty when the file cannot be
// opened, is not RIFF/WAVE, is cut short before its "fmt " or "data" chunk, has a format
// tag other than 1, a sample width other than 16 bits or no channels. `frames` counts only
// the whole frames actually present in the file.
WavStreamPtr wav_open_read(std::string_view path) noexcept;

// Creates (truncates) a WAV file and writes its 44-byte header with placeholder sizes
// (RIFF 36, data 0). Empty when the file cannot be created, bits is not 16, channels is not
// 1 ... 32767 or rate is not positive.
WavStreamPtr wav_open_write(std::string_view path, int32_t channels, int32_t bits,
                            int32_t rate) noexcept;

// Reads up to n frames into indices 0 ... count-1 of every channel array (one pointer per
// channel, `channels` of them). Returns the number of frames read, 0 at the end (and for a
// stream not opened for reading or fewer arrays than channels).
int32_t wav_read_frames(WavStream& stream, std::span<float* const> arrays, int32_t n) noexcept;

// Writes n frames from indices 0 ... n-1 of every channel array, each sample scaled by
// gain * 32767 (rounded to single precision) and rounded to the nearest integer, of which the
// low 16 bits are stored (the caller keeps samples within full scale).
// Returns false when the write failed, or was refused because the arrays are fewer than the
// channels or the data would pass the 4 GiB that the header can count; the failure is kept in
// stream.failed and every later write and the close fail too.
bool wav_write_frames(WavStream& stream, std::span<const float* const> arrays, float gain,
                      int32_t n) noexcept;
