#include "encoder/readability.h"

#include "common/packet.h"
#include "common/text_format.h"
#include "encoder/encoder_channel.h"
#include "verify/verify.h"

int32_t readability_packet_chips(size_t digits, bool time_stamps) noexcept {
    constexpr int32_t kTimeStampChips = 24; // three digits
    constexpr int32_t kCheckChips = 32;     // four digits
    return kSyncChips + (time_stamps ? kTimeStampChips : 0) + 8 * static_cast<int32_t>(digits) +
           kCheckChips;
}

std::vector<std::string> encoder_readability_warnings(const ReadabilityFacts& facts) {
    std::vector<std::string> warnings;
    if (facts.frames > 0 && facts.peak == 0.0f)
        warnings.emplace_back("the input is silent: the mark follows the level of the audio, so "
                              "none was added and nothing can be read back");
    if (facts.gain == 0.0f)
        warnings.emplace_back("gain 0 adds no mark: nothing can be read back");
    const int32_t longest = verify_longest_payload(facts.time_stamps);
    if (facts.payload_digits > static_cast<size_t>(longest))
        warnings.push_back(text_format(
            "a payload of %zu digits is longer than the decoder reads (%d digits %s time "
            "stamps): its packets cannot be read back; give a shorter payload",
            facts.payload_digits, longest, facts.time_stamps ? "with" : "without"));
    const int32_t chip = encoder_samples_per_chip(facts.rate, facts.chip_rate);
    if (facts.rate > 0 && chip > 0) {
        // The lead-in, then two whole packets: the decoder reports a packet only once the sync
        // after it has been read.
        const int64_t needed =
            static_cast<int64_t>(chip) *
            (kLeadInChips + 2 * readability_packet_chips(facts.payload_digits, facts.time_stamps));
        if (facts.frames < needed)
            warnings.push_back(text_format(
                "the input lasts %.1f s, shorter than the %.1f s that two whole packets of this "
                "payload need on each channel: a reader will find no packet (use a longer input "
                "or a shorter payload)",
                static_cast<double>(facts.frames) / facts.rate,
                static_cast<double>(needed) / facts.rate));
    }
    return warnings;
}
