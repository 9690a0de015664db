#include "common/wav.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "common/pcm16.h"
#include "common/platform.h"

namespace {

constexpr size_t kHeaderBytes = 44;
constexpr size_t kChunkHeaderBytes = 8;
constexpr size_t kPcmFormatBytes = 16;
constexpr size_t kBlockBytes = 64 * 1024; // audio moves through stdio in blocks of this size
constexpr uint32_t kLargestData = 0xFFFFFFFFu - 36; // so that the RIFF size fits in 32 bits

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

// Moves to `offset` bytes from the start, refusing any place past the end of the file.
bool seek_within(std::FILE* file, int64_t offset, int64_t file_size) {
    return offset <= file_size && file_seek(file, offset, SEEK_SET);
}

// Walks the chunks from `offset` to the first one with id `target` and returns its size, with
// `offset` and the file at the start of its body. Chunks on the way are skipped by their size
// plus the pad byte that follows an odd size. Every step moves forward and stays inside the
// file, so the walk ends: at the target, or refused when the file ends first.
std::optional<uint32_t> find_chunk(std::FILE* file, const char* target, int64_t& offset,
                                   int64_t file_size) {
    uint8_t header[kChunkHeaderBytes];
    for (;;) {
        if (!read_exact(file, header, sizeof header)) {
            return std::nullopt;
        }
        offset += static_cast<int64_t>(sizeof header);
        const uint32_t size = get_u32le(header + 4);
        if (is_id(header, target)) {
            return size;
        }
        offset += static_cast<int64_t>(size) + static_cast<int64_t>(size & 1u);
        if (!seek_within(file, offset, file_size)) {
            return std::nullopt;
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
        std::fclose(stream->file);
        return true;
    }
    bool ok = !stream->failed;
    if (ok) {
        // The sizes are completed through the handle that is still open rather than by
        // reopening the file by name: the same bytes land at offsets 4 and 40, and nothing can
        // have moved or replaced the file in between. A failed earlier write leaves the
        // placeholders (36 and 0), which mark the file as incomplete.
        const uint64_t data_bytes =
            static_cast<uint64_t>(stream->frames) * static_cast<uint64_t>(stream->channels) * 2u;
        uint8_t riff_size[4];
        uint8_t data_size[4];
        put_u32le(riff_size, static_cast<uint32_t>(data_bytes + 36));
        put_u32le(data_size, static_cast<uint32_t>(data_bytes));
        ok = std::fflush(stream->file) == 0 && std::fseek(stream->file, 4, SEEK_SET) == 0 &&
             std::fwrite(riff_size, 1, 4, stream->file) == 4 &&
             std::fseek(stream->file, 40, SEEK_SET) == 0 &&
             std::fwrite(data_size, 1, 4, stream->file) == 4 && std::fflush(stream->file) == 0;
    }
    // fclose flushes what is still buffered; its failure means lost data too.
    const bool closed = std::fclose(stream->file) == 0;
    stream->file = nullptr;
    return ok && closed;
}

WavStreamPtr wav_open_read(std::string_view path) noexcept {
    try {
        WavStreamPtr stream(std::make_unique<WavStream>().release());
        stream->path = path;
        stream->mode = 'r';
        stream->file = file_open(stream->path, "rb");
        if (stream->file == nullptr) {
            return {};
        }
        std::FILE* const file = stream->file;
        const std::optional<int64_t> file_size = size_of(file);
        if (!file_size) {
            return {};
        }

        uint8_t riff[12];
        if (!read_exact(file, riff, sizeof riff) || !is_id(riff, "RIFF") ||
            !is_id(riff + 8, "WAVE")) {
            return {};
        }
        int64_t offset = sizeof riff;

        const std::optional<uint32_t> fmt_size = find_chunk(file, "fmt ", offset, *file_size);
        uint8_t format[kPcmFormatBytes];
        if (!fmt_size || *fmt_size < kPcmFormatBytes || !read_exact(file, format, sizeof format)) {
            return {};
        }
        const uint32_t format_tag = get_u16le(format);
        const uint32_t channels = get_u16le(format + 2);
        const uint32_t rate = get_u32le(format + 4);
        const uint32_t bits = get_u16le(format + 14);
        if (format_tag != 1 || bits != 16 || channels == 0) {
            return {};
        }
        // A longer format body (an extension size, for instance) is skipped by its size.
        offset += static_cast<int64_t>(*fmt_size) + static_cast<int64_t>(*fmt_size & 1u);
        if (!seek_within(file, offset, *file_size)) {
            return {};
        }

        const std::optional<uint32_t> data_size = find_chunk(file, "data", offset, *file_size);
        if (!data_size) {
            return {};
        }
        // Only the whole frames that the file really holds count, whatever the size field says.
        const int64_t present = std::min<int64_t>(*data_size, *file_size - offset);
        const int64_t frames = present / (2 * static_cast<int64_t>(channels));

        stream->channels = static_cast<int32_t>(channels);
        stream->bits = static_cast<int32_t>(bits);
        stream->rate = static_cast<int32_t>(rate);
        stream->frames =
            static_cast<int32_t>(std::min<int64_t>(frames, std::numeric_limits<int32_t>::max()));
        stream->position = 0;
        return stream;
    } catch (const std::bad_alloc&) {
        return {};
    }
}

WavStreamPtr wav_open_write(std::string_view path, int32_t channels, int32_t bits,
                            int32_t rate) noexcept {
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
        stream->file = file_open(stream->path, "wb");
        if (stream->file == nullptr) {
            return {};
        }

        const double byte_rate = std::floor(static_cast<double>(rate) * channels * bits * 0.125);
        uint8_t header[kHeaderBytes];
        put_id(header, "RIFF");
        put_u32le(header + 4, 36);
        put_id(header + 8, "WAVE");
        put_id(header + 12, "fmt ");
        put_u32le(header + 16, 16);
        put_u16le(header + 20, 1);
        put_u16le(header + 22, static_cast<uint32_t>(channels));
        put_u32le(header + 24, static_cast<uint32_t>(rate));
        put_u32le(header + 28, static_cast<uint32_t>(static_cast<uint64_t>(byte_rate)));
        put_u16le(header + 32, static_cast<uint32_t>(channels * bits / 8));
        put_u16le(header + 34, static_cast<uint32_t>(bits));
        put_id(header + 36, "data");
        put_u32le(header + 40, 0);
        if (std::fwrite(header, 1, sizeof header, stream->file) != sizeof header) {
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
        (static_cast<uint64_t>(stream.frames) + static_cast<uint64_t>(n)) * frame_bytes >
            kLargestData) {
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
