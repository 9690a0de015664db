#!/usr/bin/env python3
"""Writes the malformed WAV files of scripts/torture.sh into a folder, one sub-folder per
category (truncations, size fields, channels, rates, formats, chunk layouts, mutations, memory).

    torture_cases.py <folder> <valid.wav> <song.wav> [mutations=400] [seed=1]

<valid.wav> is a short 16-bit stereo file that every malformation starts from; <song.wav> a
10-second file of which the memory cases change one header field. Every file is under 1 MB.
"""
import os
import random
import struct
import sys


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def chunk(cid, body, size=None, pad=True):
    data = cid + u32(len(body) if size is None else size) + body
    if pad and len(body) % 2:
        data += b"\0"
    return data


def fmt_body(tag=1, channels=2, rate=22050, bits=16, extra=b""):
    block = channels * bits // 8
    return (u16(tag) + u16(channels) + u32(rate) + u32(rate * block) + u16(block) + u16(bits)
            + extra)


def riff(chunks, size=None, form=b"WAVE", magic=b"RIFF"):
    body = form + b"".join(chunks)
    return magic + u32(len(body) if size is None else size) + body


def parse(wav):
    """Offsets of the fmt and data chunks' size fields and of the samples in a plain file."""
    at = 12
    found = {}
    while at + 8 <= len(wav):
        cid = wav[at:at + 4]
        size = struct.unpack("<I", wav[at + 4:at + 8])[0]
        found[cid] = at
        if cid == b"data":
            break
        at += 8 + size + (size & 1)
    return found


def main():
    out, valid_path, song_path = sys.argv[1:4]
    mutations = int(sys.argv[4]) if len(sys.argv) > 4 else 400
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 1)
    valid = open(valid_path, "rb").read()
    song = open(song_path, "rb").read()
    samples = valid[parse(valid)[b"data"] + 8:]
    cases = {}

    def add(category, name, data):
        cases.setdefault(category, []).append((name, data))

    # A file with a LIST chunk of odd size before "fmt " and a fact chunk before "data", so that
    # cuts fall inside every kind of chunk header and body.
    layered = riff([chunk(b"LIST", b"INFOISFT\x05\0\0\0vekm\0"), chunk(b"fmt ", fmt_body()),
                    chunk(b"fact", u32(len(samples) // 4)), chunk(b"data", samples[:4000])])
    header_end = parse(layered)[b"data"] + 8
    for cut in list(range(0, header_end + 9)) + [header_end + 3999, header_end + 4000]:
        add("truncations", "cut%05d" % cut, layered[:cut])

    at = parse(valid)
    for name, offset in (("riff", 4), ("fmt", at[b"fmt "] + 4), ("data", at[b"data"] + 4)):
        for value in (0, 1, 2, 3, 14, 16, 18, 36, len(samples) - 1, len(samples) + 1,
                      0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF):
            data = bytearray(valid)
            data[offset:offset + 4] = u32(value)
            add("size fields", "%s_%08x" % (name, value), bytes(data))
    for value in (0, 1, 3, 0x7FFF, 0xFFFF):
        data = bytearray(valid)
        data[at[b"fmt "] + 8 + 12:at[b"fmt "] + 8 + 14] = u16(value)
        add("size fields", "block_align_%04x" % value, bytes(data))

    for channels in (0, 1, 2, 3, 26, 27, 255, 256, 1024, 32767, 32768, 65535):
        for length in (0, 4, 4000):
            body = samples[:length]
            add("channels", "c%05d_%d" % (channels, length),
                riff([chunk(b"fmt ", fmt_body(channels=channels)), chunk(b"data", body)]))

    for rate in (0, 1, 8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000, 192000,
                 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF):
        add("rates", "r%010d" % rate,
            riff([chunk(b"fmt ", fmt_body(rate=rate)), chunk(b"data", samples[:8000])]))

    for tag in (0, 1, 2, 3, 0xFFFE, 0xFFFF):
        for bits in (0, 8, 15, 16, 17, 24, 32, 0xFFFF):
            extra = b""
            if tag == 0xFFFE:
                extra = u16(22) + u16(bits) + u32(3) + u16(1) + b"\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71"
            add("formats", "t%04x_b%d" % (tag, bits),
                riff([chunk(b"fmt ", fmt_body(tag=tag, bits=bits, extra=extra)),
                      chunk(b"data", samples[:2000])]))

    fmt = chunk(b"fmt ", fmt_body())
    data = chunk(b"data", samples[:4000])
    layouts = {
        "list_first": [chunk(b"LIST", b"INFO"), fmt, data],
        "odd_chunk_padded": [chunk(b"junk", b"abc"), fmt, data],
        "odd_chunk_unpadded": [chunk(b"junk", b"abc", pad=False), fmt, data],
        "data_before_fmt": [data, fmt],
        "no_data": [fmt],
        "no_fmt": [data],
        "two_fmt": [fmt, chunk(b"fmt ", fmt_body(channels=7)), data],
        "two_data": [fmt, data, data],
        "huge_chunk_first": [chunk(b"junk", b"", size=0xFFFFFFFF), fmt, data],
        "huge_chunk_between": [fmt, chunk(b"junk", b"", size=0x7FFFFFF0), data],
        "fmt_18": [chunk(b"fmt ", fmt_body(extra=u16(0))), data],
        "fmt_short": [chunk(b"fmt ", fmt_body()[:10]), data],
        "fmt_huge": [chunk(b"fmt ", fmt_body(), size=0xFFFFFFF0), data],
        "empty_chunks": [chunk(b"", b""), fmt, data],
        "data_zero": [fmt, chunk(b"data", b"")],
        "data_odd": [fmt, chunk(b"data", samples[:4001])],
        "chunk_after_data": [fmt, data, chunk(b"LIST", b"INFOIART\x04\0\0\0me\0\0")],
    }
    for name, chunks in layouts.items():
        add("chunk layouts", name, riff(chunks))
    add("chunk layouts", "rifx", riff([fmt, data], magic=b"RIFX"))
    add("chunk layouts", "rf64", riff([fmt, data], magic=b"RF64"))
    add("chunk layouts", "not_wave", riff([fmt, data], form=b"AVI "))
    add("chunk layouts", "empty_file", b"")
    add("chunk layouts", "riff_only", b"RIFF")
    add("chunk layouts", "text", b"hello, this is not audio\n" * 10)

    for i in range(mutations):
        data = bytearray(valid[:200 + rng.randrange(4000)])
        for _ in range(rng.randrange(1, 9)):
            where = rng.randrange(64) if rng.random() < 0.8 else rng.randrange(len(data))
            kind = rng.random()
            if kind < 0.6:
                data[where] = rng.randrange(256)
            elif kind < 0.8:
                del data[where]
            else:
                data.insert(where, rng.randrange(256))
        add("mutations", "m%04d" % i, bytes(data))

    # Memory: headers that claim far more than the file holds, and a 10-second song with one
    # header field changed.
    sat = parse(song)
    for channels in (2, 256, 32767, 65535):
        for rate in (22050, 48000, 0xFFFFFFFF):
            add("memory", "header_c%d_r%d" % (channels, rate),
                riff([chunk(b"fmt ", fmt_body(channels=channels, rate=rate)),
                      chunk(b"data", b"", size=0xFFFFFFF0)]))
    for name, offset, value in (("channels", sat[b"fmt "] + 10, u16(65535)),
                                ("channels_32768", sat[b"fmt "] + 10, u16(32768)),
                                ("rate", sat[b"fmt "] + 12, u32(0xFFFFFFFF)),
                                ("data_size", sat[b"data"] + 4, u32(0xFFFFFFFF))):
        data = bytearray(song)
        data[offset:offset + len(value)] = value
        add("memory", "song_" + name, bytes(data))

    for category, files in cases.items():
        folder = os.path.join(out, category.replace(" ", "_"))
        os.makedirs(folder, exist_ok=True)
        for name, data in files:
            assert len(data) < 1 << 20
            with open(os.path.join(folder, name + ".wav"), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
