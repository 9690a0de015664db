// libFuzzer target: the packet parser and the packet search of a chip track. The input gives a
// check mask, a polarity and soft chips; they go through packet_parse as one body and, as a
// track's chip values, through packet_search. Beyond the sanitizers it checks that every
// packet found is well formed, and that a packet built from the input's digits parses back to
// those digits.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/packet.h"
#include "decoder/decoder_channel.h"
#include "decoder/recovery.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool is_hex(const std::string& digits) {
    return std::all_of(digits.begin(), digits.end(),
                       [](char c) { return kHexDigits.find(c) != std::string_view::npos; });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const auto mask = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const float polarity = (data[2] & 1) != 0 ? -1.0f : 1.0f;
    const bool with_time = (data[2] & 2) != 0;
    const int32_t extra = static_cast<int32_t>(data[3] % 24) - 2; // m beyond the chips given
    const std::span<const uint8_t> rest(data + 4, size - 4);
    std::vector<float> chips;
    for (const uint8_t byte : rest) {
        chips.push_back(static_cast<float>(static_cast<int8_t>(byte)) / 32.0f);
    }

    std::string digits;
    int32_t time_stamp = 0;
    packet_parse(chips, polarity, static_cast<int32_t>(chips.size()) + extra, digits, time_stamp,
                 mask);
    check(is_hex(digits) && time_stamp >= -1 && time_stamp <= 4095);

    ChipTrack track;
    track.values.assign(static_cast<size_t>(kTrackCapacity), 0.0f);
    track.average.assign(static_cast<size_t>(kTrackCapacity), 0.0f);
    track.count = static_cast<int32_t>(std::min<size_t>(chips.size(), kTrackCapacity));
    std::copy_n(chips.begin(), track.count, track.values.begin());
    std::vector<DecodedPacket> found(static_cast<size_t>(kPacketCapacity));
    const int32_t k = packet_search(track, found, mask);
    check(k >= 0 && k <= kPacketCapacity);
    check(track.count >= 0 && track.count <= kTrackCapacity);
    check(track.search_position >= 0 && track.search_position <= track.count);
    for (int32_t i = 0; i < k; ++i) {
        const DecodedPacket& packet = found[static_cast<size_t>(i)];
        check(is_hex(packet.payload) && packet.time_stamp >= -1 && packet.time_stamp <= 4095);
    }

    // The input's bytes as payload digits (an even number, 2 to 98) make a packet that parses
    // back to them.
    std::string payload;
    for (size_t i = 0; i < std::min<size_t>(rest.size(), 49); ++i) {
        payload += kHexDigits[rest[i] >> 4];
        payload += kHexDigits[rest[i] & 15];
    }
    if (payload.empty()) {
        return 0;
    }
    const std::optional<std::string> built =
        packet_build(payload, with_time ? static_cast<float>(data[3]) : -1.0f, 50.0f, mask);
    check(built.has_value());
    std::vector<float> body;
    for (size_t i = static_cast<size_t>(kSyncChips); i < built->size(); ++i) {
        body.push_back(((*built)[i] == '1' ? 1.0f : -1.0f) * polarity);
    }
    check(
        packet_parse(body, polarity, static_cast<int32_t>(body.size()), digits, time_stamp, mask));
    check(digits == payload && (time_stamp >= 0) == with_time);
    return 0;
}
