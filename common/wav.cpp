#include "common/wav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "common/pcm16.h"
#include "common/platform.h"
#include "common/text_format.h"

namespace {

constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kPcmFormatBytes = 16;
constexpr size_t kBlockBytes = 64 * 1024;      // audio moves through stdio in blocks of this size
constexpr uint64_t kLargestRiff = 0xFFFFFFFFu; // the RIFF size (file bytes - 8) fits in 32 bits

uint32_t get_u16le(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8);
}
uint32_t get_u32le(const uint8_t* b) {
    return get_u16le(b) | (get_u16le(b + 2) << 16);
}
void put_u16le(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v & 0xFFu);
    b[1] = static_cast<uint8_t>((v >> 8) & 0xFFu);
}
void put_u32le(uint8_t* b, uint32_t v) {
    put_u16le(b, v & 0xFFFFu);
    put_u16le(b + 2, v >> 16);
}
void put_id(uint8_t* b, const char* id) {
    std::memcpy(b, id, 4);
}
bool is_id(const uint8_t* b, const char* id) {
    return std::memcmp(b, id, 4) == 0;
}

constexpr uint32_t kFormatPcm = 1;
constexpr uint32_t kFormatFloat = 3;
constexpr uint32_t kFormatExtensible = 0xFFFE;
constexpr size_t kExtensibleFormatBytes = 40;
// The 14 bytes that follow the two-byte format code in every subformat GUID of the
// extensible format (KSDATAFORMAT_SUBTYPE_PCM and its kin).
constexpr uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Chunk sizes a writer into a pipe gives for an audio length it does not know yet.
constexpr uint32_t kUnknownLength = 0xFFFFFFFFu;

bool read_exact(std::FILE* file, uint8_t* buffer, size_t count) {
    return std::fread(buffer, 1, count, file) == count;
}

std::optional<int64_t> size_of(std::FILE* file) {
    if (!file_seek(file, 0, SEEK_END)) {
        return std::nullopt;
    }
    const int64_t size = file_tell(file);
    if (size < 0 || !file_seek(file, 0, SEEK_SET)) {
        return std::nullopt;
    }
    return size;
}

// The bytes of a file being opened, read forward from its start. A file is moved through by
// seeking, never past its end; a pipe (size unknown) by reading and discarding.
struct Source {
    std::FILE* file = nullptr;
    std::optional<int64_t> size; // empty for a pipe
    int64_t offset = 0;

    bool read(uint8_t* buffer, size_t count) {
        if (!read_exact(file, buffer, count)) {
            return false;
        }
        offset += static_cast<int64_t>(count);
        return true;
    }
    // Moves `count` bytes forward.
    bool skip(int64_t count) {
        if (size) {
            const int64_t target = offset + count;
            if (target > *size || !file_seek(file, target, SEEK_SET)) {
                return false;
            }
            offset = target;
            return true;
        }
        uint8_t scrap[4096];
        while (count > 0) {
            const auto step = static_cast<size_t>(std::min<int64_t>(count, sizeof scrap));
            if (!read(scrap, step)) {
                return false;
            }
            count -= static_cast<int64_t>(step);
        }
        return true;
    }
    // Bytes left in a file from the current offset; the most a pipe could hold otherwise.
    int64_t left() const { return size ? *size - offset : std::numeric_limits<int64_t>::max(); }
};

bool describes_samples(const uint8_t* id) {
    return is_id(id, "MD5 ") || is_id(id, "PEAK") || is_id(id, "levl");
}

// A chunk id is four printable ASCII characters; anything else (recorders pad files with
// zeros) is not a chunk.
bool is_chunk_id(const uint8_t* id) {
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// Reads the chunk whose header was just read into the metadata, or skips it when it is not
// kept. False when the file ends inside it.
bool take_chunk(Source& source, const uint8_t* header, bool after_data, WavMetadata& metadata,
                size_t& kept_bytes) {
    const uint32_t size = get_u32le(header + 4);
    const int64_t padded = static_cast<int64_t>(size) + static_cast<int64_t>(size & 1u);
    const bool wanted = is_chunk_id(header) && !is_id(header, "fmt ") && !is_id(header, "data") &&
                        !describes_samples(header);
    if (!wanted || padded > source.left()) {
        return source.skip(padded);
    }
    if (kept_bytes + size > kWavKeptChunkBytes || metadata.chunks.size() >= kWavKeptChunks) {
        ++metadata.chunks_dropped;
        return source.skip(padded);
    }
    WavChunk chunk;
    chunk.id.assign(reinterpret_cast<const char*>(header), 4);
    chunk.body.resize(size);
    chunk.after_data = after_data;
    if (!source.read(chunk.body.data(), size)) {
        return false;
    }
    if ((size & 1u) != 0) {
        // A file may end right after an odd-sized last chunk without its pad byte; a missing
        // pad byte anywhere else makes the next chunk header fail to read.
        static_cast<void>(source.skip(1));
    }
    kept_bytes += size;
    metadata.chunks.push_back(std::move(chunk));
    return true;
}

// Reads the chunks that follow the audio, up to the end of the file. A chunk cut short there
// is damage at the very end: the audio is whole, so it is left out rather than refusing the
// file.
void take_trailing_chunks(Source& source, WavMetadata& metadata) {
    size_t kept_bytes = 0;
    for (const WavChunk& chunk : metadata.chunks) {
        kept_bytes += chunk.body.size();
    }
    uint8_t header[kChunkHeaderBytes];
    while (source.read(header, sizeof header) && is_chunk_id(header)) {
        if (!take_chunk(source, header, true, metadata, kept_bytes)) {
            return;
        }
    }
}

// Checks the format body (at least 16 bytes; 40 for the extensible format) and fills in the
// stream's format fields.
WavProblem read_format(const std::vector<uint8_t>& body, WavStream& stream, WavRefusal& refusal) {
    const uint8_t* format = body.data();
    uint32_t coding = get_u16le(format);
    const uint32_t channels = get_u16le(format + 2);
    const uint32_t rate = get_u32le(format + 4);
    const uint32_t bits = get_u16le(format + 14);
    refusal.bits = bits;
    if (coding == kFormatExtensible) {
        if (body.size() < kExtensibleFormatBytes ||
            std::memcmp(format + 26, kSubformatTail, sizeof kSubformatTail) != 0) {
            refusal.format_tag = coding;
            return WavProblem::UnsupportedCode;
        }
        coding = get_u16le(format + 24);
        stream.metadata.channel_mask = get_u32le(format + 20);
    }
    refusal.format_tag = coding;
    if (coding == kFormatFloat) {
        return WavProblem::UnsupportedFloat;
    }
    if (coding != kFormatPcm) {
        return WavProblem::UnsupportedCode;
    }
    if (bits != 16) {
        return WavProblem::UnsupportedPcm;
    }
    if (channels == 0) {
        return WavProblem::NoChannels;
    }
    stream.channels = static_cast<int32_t>(channels);
    stream.bits = static_cast<int32_t>(bits);
    stream.rate = static_cast<int32_t>(rate);
    return WavProblem::None;
}

// Walks the chunks from the start of the file to the data chunk: the first "fmt " sets the
// format, every other chunk joins the metadata. Leaves the source at the first sample and
// returns the data chunk's declared size. Every step moves forward and stays inside the file,
// so the walk ends: at the data, or refused when the file ends first.
WavProblem walk_to_data(Source& source, WavStream& stream, WavRefusal& refusal,
                        uint32_t& data_size) {
    uint8_t riff[12];
    const size_t got = std::fread(riff, 1, sizeof riff, source.file);
    source.offset = static_cast<int64_t>(got);
    if (got == 0) {
        return WavProblem::Empty;
    }
    if (got < 4 || !is_id(riff, "RIFF")) {
        return WavProblem::NotWave;
    }
    if (got < sizeof riff) {
        return WavProblem::CutShort;
    }
    if (!is_id(riff + 8, "WAVE")) {
        return WavProblem::NotWave;
    }
    bool have_format = false;
    size_t kept_bytes = 0;
    uint8_t header[kChunkHeaderBytes];
    for (;;) {
        if (!source.read(header, sizeof header)) {
            return have_format ? WavProblem::NoData : WavProblem::NoFormat;
        }
        const uint32_t size = get_u32le(header + 4);
        if (is_id(header, "data")) {
            if (!have_format) {
                return WavProblem::NoFormat;
            }
            data_size = size;
            return WavProblem::None;
        }
        if (is_id(header, "fmt ") && !have_format) {
            if (size < kPcmFormatBytes) {
                return WavProblem::NoFormat;
            }
            // The fields lie in the first 40 bytes; a longer body is skipped by its size.
            const size_t wanted = std::min<size_t>(size, kExtensibleFormatBytes);
            std::vector<uint8_t> body(wanted);
            if (!source.read(body.data(), wanted) ||
                !source.skip(static_cast<int64_t>(size - wanted) + (size & 1u))) {
                return WavProblem::CutShort;
            }
            const WavProblem problem = read_format(body, stream, refusal);
            if (problem != WavProblem::None) {
                return problem;
            }
            have_format = true;
        } else if (!take_chunk(source, header, false, stream.metadata, kept_bytes)) {
            return WavProblem::CutShort;
        }
    }
}

// Room for `frames` frames in the stream's buffer, capped at one block; 0 when short of memory.
size_t reserve_block(WavStream& stream, size_t frame_bytes, size_t frames) {
    const size_t block = std::min(std::max<size_t>(1, kBlockBytes / frame_bytes), frames);
    try {
        if (stream.frame_buffer.size() < block * frame_bytes) {
            stream.frame_buffer.resize(block * frame_bytes);
        }
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return block;
}

} // namespace

bool wav_close(WavStream* stream) noexcept {
    if (stream == nullptr) {
        return false;
    }
    const std::unique_ptr<WavStream> owned(stream);
    if (stream->file == nullptr) {
        return false;
    }
    if (stream->mode != 'w') {
        if (stream->file != stdin) {
            std::fclose(stream->file);
        }
        return true;
    }
    bool ok = !stream->failed;
    if (ok) {
        // The chunks that stood after the audio follow it (the data is an even number of bytes,
        // so no pad byte lies between). The sizes are completed through the handle that is
        // still open rather than by reopening the file by name: nothing can have moved or
        // replaced the file in between. A failed earlier write leaves the placeholders
        // (data 0), which mark the file as incomplete.
        const uint64_t data_bytes =
            static_cast<uint64_t>(stream->frames) * static_cast<uint64_t>(stream->channels) * 2u;
        uint64_t file_bytes = stream->header_bytes + data_bytes;
        for (const WavChunk& chunk : stream->metadata.chunks) {
            if (!ok || !chunk.after_data || chunk.id.size() != 4) {
                continue;
            }
            uint8_t header[kChunkHeaderBytes];
            put_id(header, chunk.id.c_str());
            put_u32le(header + 4, static_cast<uint32_t>(chunk.body.size()));
            const uint8_t pad = 0;
            const size_t padding = chunk.body.size() % 2;
            ok = file_bytes + sizeof header + chunk.body.size() + padding - 8 <= kLargestRiff &&
                 std::fwrite(header, 1, sizeof header, stream->file) == sizeof header &&
                 std::fwrite(chunk.body.data(), 1, chunk.body.size(), stream->file) ==
                     chunk.body.size() &&
                 std::fwrite(&pad, 1, padding, stream->file) == padding;
            file_bytes += sizeof header + chunk.body.size() + padding;
        }
        uint8_t riff_size[4];
        uint8_t data_size[4];
        put_u32le(riff_size, static_cast<uint32_t>(file_bytes - 8));
        put_u32le(data_size, static_cast<uint32_t>(data_bytes));
        ok = ok && std::fflush(stream->file) == 0 && std::fseek(stream->file, 4, SEEK_SET) == 0 &&
             std::fwrite(riff_size, 1, 4, stream->file) == 4 &&
             file_seek(stream->file, stream->data_size_offset, SEEK_SET) &&
             std::fwrite(data_size, 1, 4, stream->file) == 4 && std::fflush(stream->file) == 0;
    }
    // fclose flushes what is still buffered; its failure means lost data too.
    const bool closed = std::fclose(stream->file) == 0;
    stream->file = nullptr;
    return ok && closed;
}

std::string wav_refusal_text(const WavRefusal& refusal) {
    constexpr const char* kConvert = "convert it with sox in.wav -b 16 out.wav";
    switch (refusal.problem) {
    case WavProblem::None:
        return {};
    case WavProblem::NotFound:
        return "No such file";
    case WavProblem::Folder:
        return "It is a folder, not a file";
    case WavProblem::Unreadable:
        return "The file cannot be read: check its permissions";
    case WavProblem::NoMemory:
        return "Not enough memory to read its header";
    case WavProblem::Empty:
        return "The file is empty";
    case WavProblem::NotWave:
        return "Not a RIFF WAVE file: give a 16-bit PCM WAV file";
    case WavProblem::CutShort:
        return "The file ends inside its WAV header: it is cut short or damaged";
    case WavProblem::NoFormat:
        return "The WAV file has no valid fmt chunk before its audio";
    case WavProblem::NoData:
        return "The WAV file has no data chunk";
    case WavProblem::NoChannels:
        return "The WAV format declares 0 channels";
    case WavProblem::UnsupportedPcm:
        return text_format("%u-bit PCM is not supported: %s", refusal.bits, kConvert);
    case WavProblem::UnsupportedFloat:
        return text_format("%u-bit float is not supported: %s", refusal.bits, kConvert);
    case WavProblem::UnsupportedCode:
        return text_format("Compressed audio (format 0x%04X) is not supported: %s",
                           refusal.format_tag, kConvert);
    }
    return {};
}

WavStreamPtr wav_open_read(std::string_view path, WavRefusal* refusal) noexcept {
    WavRefusal ignored;
    WavRefusal& why = refusal != nullptr ? *refusal : ignored;
    why = WavRefusal{};
    try {
        WavStreamPtr stream(std::make_unique<WavStream>().release());
        stream->path = path;
        stream->mode = 'r';
        Source source;
        if (path == "-") {
            terminal_binary_mode(stdin);
            stream->file = stdin;
            stream->streamed = true;
        } else {
            std::error_code error;
            const std::filesystem::file_status status =
                std::filesystem::status(path_from_utf8(stream->path), error);
            if (status.type() == std::filesystem::file_type::not_found) {
                why.problem = WavProblem::NotFound;
                return {};
            }
            if (status.type() == std::filesystem::file_type::directory) {
                why.problem = WavProblem::Folder;
                return {};
            }
            stream->file = file_open(stream->path, "rb");
            if (stream->file == nullptr) {
                why.problem = WavProblem::Unreadable;
                return {};
            }
            // A named pipe or a device has no size: it is read once, like standard input.
            source.size = status.type() == std::filesystem::file_type::regular
                              ? size_of(stream->file)
                              : std::nullopt;
            stream->streamed = !source.size;
        }
        source.file = stream->file;

        uint32_t data_size = 0;
        why.problem = walk_to_data(source, *stream, why, data_size);
        if (why.problem != WavProblem::None) {
            return {};
        }
        const int64_t frame_bytes = 2 * static_cast<int64_t>(stream->channels);
        int64_t frames = 0;
        if (stream->streamed) {
            // A writer into a pipe cannot come back to fill in the size: it leaves the
            // placeholder, and the audio runs to the end of the input.
            frames = data_size == kUnknownLength || data_size == 0
                         ? std::numeric_limits<int32_t>::max()
                         : data_size / frame_bytes;
        } else {
            // Only the whole frames that the file really holds count, whatever the size says.
            const int64_t data_offset = source.offset;
            const int64_t present = std::min<int64_t>(data_size, source.left());
            frames = present / frame_bytes;
            if (static_cast<int64_t>(data_size) + (data_size & 1u) <= source.left()) {
                source.skip(static_cast<int64_t>(data_size) + (data_size & 1u));
                take_trailing_chunks(source, stream->metadata);
                if (!file_seek(stream->file, data_offset, SEEK_SET)) {
                    why.problem = WavProblem::CutShort;
                    return {};
                }
            }
        }
        stream->frames =
            static_cast<int32_t>(std::min<int64_t>(frames, std::numeric_limits<int32_t>::max()));
        stream->position = 0;
        stream->data_bytes = data_size;
        return stream;
    } catch (const std::bad_alloc&) {
        why.problem = WavProblem::NoMemory;
        return {};
    }
}

WavStreamPtr wav_open_write(std::string_view path, int32_t channels, int32_t bits, int32_t rate,
                            const WavMetadata* metadata) noexcept {
    // Samples are written as 16 bits; the block align field holds at most 65535 bytes.
    if (channels < 1 || channels > 32767 || bits != 16 || rate < 1) {
        return {};
    }
    try {
        WavStreamPtr stream(std::make_unique<WavStream>().release());
        stream->path = path;
        stream->mode = 'w';
        stream->channels = channels;
        stream->bits = bits;
        stream->rate = rate;
        if (metadata != nullptr) {
            stream->metadata = *metadata;
        }
        const uint32_t mask = stream->metadata.channel_mask;
        std::vector<uint8_t> header;
        const auto put = [&header](uint32_t value, int bytes) {
            for (int i = 0; i < bytes; ++i) {
                header.push_back(static_cast<uint8_t>((value >> (8 * i)) & 0xFFu));
            }
        };
        const auto put_text = [&header](std::string_view id) {
            header.insert(header.end(), id.begin(), id.begin() + 4);
        };
        const double byte_rate = std::floor(static_cast<double>(rate) * channels * bits * 0.125);
        put_text("RIFF");
        put(36, 4); // completed at close
        put_text("WAVE");
        put_text("fmt ");
        put(mask != 0 ? kExtensibleFormatBytes : kPcmFormatBytes, 4);
        put(mask != 0 ? kFormatExtensible : kFormatPcm, 2);
        put(static_cast<uint32_t>(channels), 2);
        put(static_cast<uint32_t>(rate), 4);
        put(static_cast<uint32_t>(static_cast<uint64_t>(byte_rate)), 4);
        put(static_cast<uint32_t>(channels * bits / 8), 2);
        put(static_cast<uint32_t>(bits), 2);
        if (mask != 0) {
            put(22, 2); // the extension's size
            put(static_cast<uint32_t>(bits), 2);
            put(mask, 4);
            put(kFormatPcm, 2);
            header.insert(header.end(), std::begin(kSubformatTail), std::end(kSubformatTail));
        }
        for (const WavChunk& chunk : stream->metadata.chunks) {
            if (!chunk.after_data && chunk.id.size() == 4) {
                put_text(chunk.id);
                put(static_cast<uint32_t>(chunk.body.size()), 4);
                header.insert(header.end(), chunk.body.begin(), chunk.body.end());
                if (chunk.body.size() % 2 != 0) {
                    header.push_back(0);
                }
            }
        }
        put_text("data");
        stream->data_size_offset = static_cast<int64_t>(header.size());
        put(0, 4); // completed at close
        stream->header_bytes = header.size();
        if (stream->header_bytes > kLargestRiff) {
            return {};
        }

        stream->file = file_open(stream->path, "wb");
        if (stream->file == nullptr) {
            return {};
        }
        if (std::fwrite(header.data(), 1, header.size(), stream->file) != header.size()) {
            stream->failed = true;
            return {};
        }
        return stream;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

int32_t wav_read_frames(WavStream& stream, std::span<float* const> arrays, int32_t n) noexcept {
    if (stream.mode != 'r' || stream.file == nullptr || stream.channels < 1 ||
        arrays.size() < static_cast<size_t>(stream.channels)) {
        return 0;
    }
    const int32_t wanted = std::min(n, stream.frames - stream.position);
    if (wanted <= 0) {
        return 0;
    }
    const auto channels = static_cast<size_t>(stream.channels);
    const size_t frame_bytes = 2 * channels;
    const size_t block = reserve_block(stream, frame_bytes, static_cast<size_t>(wanted));
    if (block == 0) {
        return 0;
    }
    uint8_t* const buffer = stream.frame_buffer.data();

    size_t done = 0;
    while (done < static_cast<size_t>(wanted)) {
        const size_t want = std::min(block, static_cast<size_t>(wanted) - done);
        // A short read (an error, or a file that shrank) keeps only whole frames.
        const size_t got = std::fread(buffer, 1, want * frame_bytes, stream.file) / frame_bytes;
        pcm16_to_planar(buffer, got, arrays.first(channels), done);
        done += got;
        if (got < want) {
            break;
        }
    }
    stream.position += static_cast<int32_t>(done);
    if (stream.streamed && stream.position == stream.frames &&
        stream.frames < std::numeric_limits<int32_t>::max()) {
        // The chunks after the audio of a pipe can only be read now; what is left of the data
        // chunk (a partial frame, the pad byte) lies before them.
        Source source{stream.file, std::nullopt, 0};
        const int64_t rest =
            static_cast<int64_t>(stream.data_bytes) -
            static_cast<int64_t>(stream.frames) * static_cast<int64_t>(frame_bytes) +
            (stream.data_bytes & 1u);
        try {
            if (source.skip(rest)) {
                take_trailing_chunks(source, stream.metadata);
            }
        } catch (const std::bad_alloc&) {
            ++stream.metadata.chunks_dropped;
        }
    }
    return static_cast<int32_t>(done);
}

bool wav_write_frames(WavStream& stream, std::span<const float* const> arrays, float gain,
                      int32_t n) noexcept {
    if (stream.mode != 'w' || stream.file == nullptr || stream.failed) {
        return false;
    }
    const auto channels = static_cast<size_t>(stream.channels);
    const size_t frame_bytes = 2 * channels;
    // Frames that cannot be written, or that the header's 32-bit sizes could not count, would
    // leave a file that misstates its contents.
    if (n < 0 || arrays.size() < channels ||
        (static_cast<uint64_t>(stream.frames) + static_cast<uint64_t>(n)) * frame_bytes +
                stream.header_bytes - 8 >
            kLargestRiff) {
        stream.failed = true;
        return false;
    }
    if (n == 0) {
        return true;
    }
    const size_t block = reserve_block(stream, frame_bytes, static_cast<size_t>(n));
    if (block == 0) {
        stream.failed = true;
        return false;
    }
    uint8_t* const buffer = stream.frame_buffer.data();
    const auto scale = static_cast<double>(static_cast<float>(static_cast<double>(gain) * 32767.0));

    size_t done = 0;
    while (done < static_cast<size_t>(n)) {
        const size_t count = std::min(block, static_cast<size_t>(n) - done);
        pcm16_from_planar(arrays.first(channels), done, count, scale, buffer);
        if (std::fwrite(buffer, 1, count * frame_bytes, stream.file) != count * frame_bytes) {
            stream.failed = true;
            return false;
        }
        done += count;
    }
    stream.position += n;
    stream.frames += n;
    return true;
}
