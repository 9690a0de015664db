#include "verify/verify.h"

#include <new>
#include <vector>

#include "common/packet.h"
#include "common/wav.h"
#include "decoder/decoder_channel.h"
#include "decoder/detector.h"

int32_t verify_longest_payload(bool time_stamps) noexcept {
    constexpr int32_t kCheckChips = 32;     // four check digits
    constexpr int32_t kTimeStampChips = 24; // three digits
    constexpr int32_t kLookAhead = 3;       // the later sync the search compares with
    const int32_t body = kTrackCapacity - kSyncChips - kLookAhead - kCheckChips -
                         (time_stamps ? kTimeStampChips : 0);
    return body / 8 / 2 * 2;
}

std::optional<VerifyResult> verify_marked_file(std::string_view path,
                                               std::string_view configuration,
                                               std::string_view owner_name,
                                               std::string_view payload) noexcept {
    try {
        WavStreamPtr in = wav_open_read(path);
        if (!in) {
            return {};
        }
        const int32_t rate = in->rate;
        const auto channels = static_cast<size_t>(in->channels);
        std::vector<DecoderChannelPtr> decoders;
        std::vector<DecoderChannel*> channel_decoders;
        for (size_t c = 0; c < channels; ++c) {
            decoders.push_back(decoder_create(rate, configuration, owner_name));
            if (!decoders.back()) {
                return {};
            }
            channel_decoders.push_back(decoders.back().get());
        }
        // One second at a time, as the decoder reads it: packet recovery depends on the frame
        // boundaries, so this finds exactly what vekmrkdec would.
        std::vector<float> block(channels * static_cast<size_t>(rate));
        std::vector<float*> planes(channels);
        for (size_t c = 0; c < channels; ++c) {
            planes[c] = block.data() + c * static_cast<size_t>(rate);
        }
        const std::vector<const float*> frames(planes.begin(), planes.end());
        std::vector<int32_t> found(channels);
        VerifyResult result;
        int32_t got = 0;
        do {
            got = wav_read_frames(*in, planes, rate);
            if (decoder_process_channels(channel_decoders, frames, static_cast<size_t>(got),
                                         found) >= 0) {
                return {};
            }
            for (size_t c = 0; c < channels; ++c) {
                for (int32_t i = 0; i < found[c]; ++i) {
                    const bool ours =
                        decoders[c]->packets[static_cast<size_t>(i)].payload == payload;
                    ++(ours ? result.readable : result.other);
                }
            }
        } while (got == rate);
        return result;
    } catch (const std::bad_alloc&) {
        return {};
    }
}
