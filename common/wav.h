#pragma once
// 16-bit PCM RIFF/WAVE files, read frame by frame into planar float arrays and
// written back from them.
//
//   WavRefusal why;
//   WavStreamPtr in = wav_open_read("in.wav", &why);    // empty: see wav_refusal_text(why)
//   std::vector<float> left(n), right(n);
//   float* planes[] = {left.data(), right.data()};
//   int32_t got = wav_read_frames(*in, planes, n);       // 0 at the end of the audio
//
//   WavStreamPtr out = wav_open_write("out.wav", 2, 16, in->rate, &in->metadata);
//   const float* src[] = {left.data(), right.data()};
//   wav_write_frames(*out, src, 1.0f, got);
//   bool ok = wav_close(out.release());                 // completes the header sizes
//
// A sample s of the file reads as s / 32768; a float x is written as the integer nearest to
// gain * 32767 * x (halves go up). Header fields and samples are little-endian and packed
// byte by byte.
//
// The path "-" reads standard input. Both the plain PCM format (tag 1) and the extensible
// format (tag 0xFFFE with the PCM subformat, which sox and ffmpeg write for more than two
// channels) are read. Every other chunk of the input (LIST/INFO tags, bext, iXML, cue, ...) is
// kept in `metadata` in file order, and a writer given that metadata writes it back where it
// stood, before or after the audio, so the tags of a file survive marking. Chunks that describe
// the samples themselves and would be false once they change ("MD5 ", "PEAK", "levl"), and a
// second "fmt " or "data", are not kept.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One chunk of a WAV file other than "fmt " and "data".
struct WavChunk {
    std::string id;            // the four characters of its id
    std::vector<uint8_t> body; // its bytes, without the pad byte that follows an odd size
    bool after_data = false;   // stood after the "data" chunk
};

// What a file carries besides its format and its samples.
struct WavMetadata {
    uint32_t channel_mask = 0;    // speaker positions of the extensible format; 0: none given
    std::vector<WavChunk> chunks; // in file order
    int32_t chunks_dropped = 0;   // chunks not kept because they would pass kWavKeptChunkBytes
};

// The most chunk bytes a reader keeps; chunks beyond are counted in `chunks_dropped`.
inline constexpr size_t kWavKeptChunkBytes = 64u * 1024u * 1024u;

// Why a file could not be opened for reading.
enum class WavProblem {
    None,
    NotFound,         // no file of that name
    Folder,           // the name is a folder
    Unreadable,       // exists but cannot be opened (permissions)
    Empty,            // zero bytes
    NotWave,          // does not start with RIFF....WAVE
    CutShort,         // ends inside its header or inside a chunk the header declares
    NoFormat,         // no "fmt " chunk before the audio, or one too short to hold a format
    NoData,           // no "data" chunk
    NoChannels,       // the format declares 0 channels
    UnsupportedPcm,   // PCM of another width than 16 bits (`bits`)
    UnsupportedFloat, // floating-point samples (`bits`)
    UnsupportedCode,  // compressed or unknown sample coding (`format_tag`)
    NoMemory,         // memory ran short while reading the header
};

struct WavRefusal {
    WavProblem problem = WavProblem::None;
    uint32_t format_tag = 0; // the sample coding (the subformat's, for the extensible format)
    uint32_t bits = 0;       // bits per sample the format declares
};

// The reason as one sentence without a final full stop, with what would be right where there
// is something to do (the sox command that converts the file): the line that follows
// "Failure to open X for reading.".
std::string wav_refusal_text(const WavRefusal& refusal);

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
    // Reading: the input is a pipe (standard input), read once from start to end. `frames` is
    // then what the header declares (INT32_MAX when it declares no length, as a writer into a
    // pipe does), and reading ends at the end of the input when that comes first.
    bool streamed = false;
    // Reading: what the file carries besides format and samples. For a streamed input the
    // chunks after the audio join it once the last frame has been read. Writing: the chunks to
    // write; those after the audio are taken from here at close, so a caller may add them until
    // then.
    WavMetadata metadata;
    uint32_t data_bytes = 0;       // reading: the data chunk's declared size
    int64_t data_size_offset = 40; // writing: where the data chunk's size field lies
    uint64_t header_bytes = 44;    // writing: bytes before the samples
};

// Closes the file; for a written stream first appends the metadata chunks that stood after the
// audio and completes the RIFF and data sizes (through the open handle). Returns true on
// success, false when a written file could not be completed (an earlier write, the chunks, the
// header update, a flush or the close failed) or the stream is null; a failed file keeps its
// placeholder sizes (data 0). Frees the stream. A stream opened for reading closes with true
// (standard input is left open).
bool wav_close(WavStream* stream) noexcept;

struct WavStreamDeleter {
    void operator()(WavStream* s) const noexcept { wav_close(s); }
};
using WavStreamPtr = std::unique_ptr<WavStream, WavStreamDeleter>;

// Opens a 16-bit PCM WAV file ("-": standard input) positioned at its first sample, with its
// other chunks in `metadata`. Empty when the file cannot be opened, is not RIFF/WAVE, is cut
// short before its "fmt " or "data" chunk, is not 16-bit PCM or has no channels; `refusal`
// (when given) then says why. `frames` counts only the whole frames actually present in a file.
WavStreamPtr wav_open_read(std::string_view path, WavRefusal* refusal = nullptr) noexcept;

// Creates (truncates) a WAV file and writes its header with placeholder sizes. Without
// metadata (or with none to write) the header is the plain 44 bytes (RIFF 36, data 0); with a
// channel mask the format is the extensible one, and the chunks before the audio follow the
// format. Empty when the file cannot be created, bits is not 16, channels is not 1 ... 32767
// or rate is not positive.
WavStreamPtr wav_open_write(std::string_view path, int32_t channels, int32_t bits, int32_t rate,
                            const WavMetadata* metadata = nullptr) noexcept;

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
