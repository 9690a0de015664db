#pragma once
// Whether the mark the encoder has just written can be read back: the warnings that follow a
// run which succeeded but whose output carries no readable mark. Only what the run knows goes
// in; the decoder's own limits come from the verify module that shares its code.
//
//   const std::vector<std::string> warnings = encoder_readability_warnings(facts);
//   for (const std::string& w : warnings) program_warn(w);

#include <cstdint>
#include <string>
#include <vector>

struct ReadabilityFacts {
    int32_t rate = 0;         // sampling rate, Hz
    int64_t frames = 0;       // sample frames written per channel
    float peak = 0.0f;        // largest absolute value of the marked audio
    float gain = 1.0f;        // the configured gain
    float chip_rate = 50.0f;  // chips per second
    bool time_stamps = false; // -addts 1
    size_t payload_digits = 0;
};

// Packet length in chips for a payload of `digits` digits: sync, optional time stamp, payload
// and check digits.
int32_t readability_packet_chips(size_t digits, bool time_stamps) noexcept;

// One sentence (no final full stop) for each reason the written mark cannot be read back:
// silent input, gain 0, a payload longer than the decoder reads, an input too short for two
// whole packets per channel. Empty when none applies.
std::vector<std::string> encoder_readability_warnings(const ReadabilityFacts& facts);
