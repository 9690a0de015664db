#pragma once
// Reads a file the encoder has just written back through the decoder's own chain (channel
// state, detector, packet recovery), for the encoder's -verify: the encoder and the decoder
// keep to their own folders, and this module, which links the decoder's library, is the one
// place where a marked file meets the reader that will later be given it.
//
//   const std::optional<VerifyResult> r =
//       verify_marked_file("out.wav", " -layer private", owner_name, "0123ABCD");
//   if (r) std::printf("%d of %d packets readable\n", r->readable, packets_written);

#include <cstdint>
#include <optional>
#include <string_view>

struct VerifyResult {
    int32_t readable = 0; // packets, on all channels, that carry the payload
    int32_t other = 0;    // packets that carry some other payload (a mark already in the input)
};

// The most payload digits (an even count) whose packets the decoder can read: a packet's body
// and the sync after it, with three chips of the sync search's look-ahead, must fit in one chip
// track. 52 digits with time stamps, 56 without.
int32_t verify_longest_payload(bool time_stamps) noexcept;

// Decodes the WAV file at `path` with the decoder configuration `configuration` ("-layer",
// "-rawbr" words) and the owner name, and counts the packets that carry `payload` (upper-case
// digits, as the encoder wrote them). Empty when the file cannot be read or a channel cannot
// be configured or run.
std::optional<VerifyResult> verify_marked_file(std::string_view path,
                                               std::string_view configuration,
                                               std::string_view owner_name,
                                               std::string_view payload) noexcept;
