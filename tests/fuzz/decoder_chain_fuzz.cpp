// libFuzzer target: a decoder channel's whole signal chain on arbitrary audio. The input picks
// a sampling rate, a layer and a chip rate, then gives 16-bit samples, which are repeated to
// fill half a second and fed in frames of the sizes the input chooses. Beyond the sanitizers it
// checks that every frame returns at most the packet array's capacity of well-formed packets.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "common/packet.h"
#include "decoder/decoder_channel.h"
#include "decoder/detector.h"

namespace {

constexpr std::array<int32_t, 7> kRates = {11025, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::array<const char*, 6> kConfigurations = {
    "", " -layer private", " -layer SomeoneElse", " -rawbr 45", " -rawbr 100", " -rawbr 7.5"};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) {
        return 0;
    }
    const int32_t rate = kRates[data[0] % kRates.size()];
    const char* configuration = kConfigurations[data[1] % kConfigurations.size()];
    DecoderChannelPtr channel = decoder_create(rate, configuration, "VekTestOwner");
    if (!channel) {
        return 0;
    }
    // Frame sizes: one second, or a fraction of it chosen by the input.
    const size_t frame =
        data[2] == 0 ? static_cast<size_t>(rate) : static_cast<size_t>(rate) * data[2] / 256 + 1;
    std::vector<float> audio(static_cast<size_t>(rate) / 2);
    const std::span<const uint8_t> samples(data + 3, (size - 3) & ~size_t{1});
    for (size_t i = 0; i < audio.size(); ++i) {
        const size_t at = (2 * i) % samples.size();
        const auto value = static_cast<int16_t>(samples[at] | (samples[at + 1] << 8));
        audio[i] = static_cast<float>(value) * (1.0f / 32768.0f);
    }
    for (size_t at = 0; at < audio.size(); at += frame) {
        const size_t n = std::min(frame, audio.size() - at);
        const int32_t k = decoder_process(*channel, std::span<const float>(audio.data() + at, n));
        check(k >= 0 && k <= kPacketCapacity);
        for (int32_t i = 0; i < k; ++i) {
            const DecodedPacket& packet = channel->packets[static_cast<size_t>(i)];
            check(!packet.payload.empty() && packet.time_stamp >= -1 && packet.time_stamp <= 4095);
            check(packet.payload.find_first_not_of(kHexDigits) == std::string::npos);
        }
    }
    return 0;
}
