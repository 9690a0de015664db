#include "decoder/driver.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "common/owner_name.h"
#include "common/program.h"
#include "common/progress_log.h"
#include "common/wav.h"
#include "decoder/config.h"
#include "decoder/decoder_channel.h"
#include "decoder/detector.h"
#include "decoder/recovery.h"
#include "decoder/speed_search.h"

namespace {

// Reads one input and prints its report; returns the exit code of that file.
int decode_file(const CommandLine& line, const std::string& input_path, ProgramRun& run) {
    const std::string& configuration = line.configuration;

    WavRefusal refusal;
    WavStreamPtr input = wav_open_read(input_path, &refusal);
    if (!input)
        return program_fail_open_input(run, input_path, refusal);
    const int32_t rate = input->rate;
    const int32_t channels = input->channels;
    if (!program_rate_accepted(run.program, rate))
        return program_fail_rate(run, rate);
    if (channels > kMaxChannels)
        return program_fail_channels(run, input_path, channels);

    // One second per frame, but never more than the file holds: memory follows the audio that
    // is there, not what the header claims.
    const auto frame_length = static_cast<size_t>(std::clamp(input->frames, 0, rate));
    std::vector<float> block;
    std::vector<float*> planes;
    try {
        block.assign(static_cast<size_t>(channels) * frame_length, 0.0f);
        planes.resize(static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
        return program_fail_buffers(run);
    }
    for (size_t c = 0; c < planes.size(); ++c)
        planes[c] = block.data() + c * frame_length;

    std::vector<DecoderChannelPtr> decoders;
    try {
        decoders.reserve(static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
        return program_fail_channel_array(run);
    }
    const std::string owner_name = owner_name_lookup(line.name.c_str());
    for (int32_t c = 0; c < channels; ++c) {
        decoders.push_back(decoder_create(rate, configuration, owner_name));
        // Every channel has the configuration of the first: only memory can fail the others.
        if (!decoders.back() && c > 0)
            return program_fail_channel_memory(run, c);
        if (!decoders.back()) {
            // A private layer fails when the owner name cannot key it: say why.
            const std::optional<DecoderConfig> config = decoder_config_parse(configuration);
            const bool private_layer = config && config->layer == DecoderLayer::Private;
            return program_fail_configure(run, c, configuration,
                                          private_layer ? owner_name_problem(owner_name) : "");
        }
    }

    // With -speed, the speed search's branches read the file besides the default reading.
    const std::optional<DecoderConfig> config = decoder_config_parse(configuration);
    SpeedSearch search;
    search.rate = rate;
    search.frame_length = frame_length;
    search.configuration = configuration;
    search.owner_name = owner_name;
    search.factors = speed_search_factors(config ? config->speed : 0.0);
    search.opening_length = static_cast<size_t>(kOpeningSeconds) * static_cast<size_t>(rate);
    search.ledger.rawbr = config ? config->rawbr : 50.0f;
    try {
        search.opening.resize(static_cast<size_t>(channels));
        search.ledger.channels.resize(static_cast<size_t>(channels));
    } catch (const std::bad_alloc&) {
        return program_fail_buffers(run);
    }
    const bool searching = !search.factors.empty();

    InstanceSummary summary;
    const auto report = [&](int32_t, const DecodedPacket& packet) {
        ++run.packets;
        summary_add(summary, packet);
        program_packet_line(run, packet_line(packet));
    };
    int64_t frames_read = 0;
    program_frames_begin(run, input->frames, rate);
    std::vector<DecoderChannel*> channel_decoders;
    for (const DecoderChannelPtr& decoder : decoders)
        channel_decoders.push_back(decoder.get());
    const std::vector<const float*> frames(planes.begin(), planes.end());
    std::vector<int32_t> found(static_cast<size_t>(channels));
    int32_t n = 0;
    do {
        n = wav_read_frames(*input, planes, static_cast<int32_t>(frame_length));
        // All channels of the frame at once; the packets are then reported channel by channel.
        const int32_t failed =
            decoder_process_channels(channel_decoders, frames, static_cast<size_t>(n), found);
        for (int32_t c = 0; c < channels; ++c) {
            const int32_t k = c == failed ? -1 : found[static_cast<size_t>(c)];
            if (k < 0)
                return program_fail_internal(run, c);
            for (int32_t i = 0; i < k; ++i) {
                const DecodedPacket& packet =
                    decoders[static_cast<size_t>(c)]->packets[static_cast<size_t>(i)];
                const double seconds =
                    static_cast<double>(frames_read + n) / static_cast<double>(rate);
                if (!searching || ledger_accept(search.ledger, c, 0, packet, seconds))
                    report(c, packet);
            }
        }
        frames_read += n;
        if (searching &&
            !speed_search_frame(search, frames, static_cast<size_t>(n), n != rate, report))
            return program_fail_buffers(run);
        program_frame_done(run, n);
    } while (n == rate);

    run.speed = program_speed(run);
    program_frames_end(run);
    std::string entries;
    for (const SummaryEntry& entry : summary.entries)
        entries += summary_entry_line(entry);
    if (!run.log_path.empty())
        progress_log_write_summary(run.log_path, input_path, run.packets, run.speed, entries);
    std::printf("\"%s\"\n", input_path.c_str());
    std::fputs(entries.c_str(), stdout);
    std::printf("-> %d packet(s) decoded at an average of %.1fx\n", run.packets, run.speed);
    std::fflush(stdout);
    wav_close(input.release());
    decoders.clear();
    return static_cast<int>(ExitCode::Ok);
}

// Every input in turn, each with its own report; the exit code is the largest of theirs. A
// file that cannot be read or has an unsupported rate does not stop the others; a failure that
// would repeat on every file (configuration, memory) does.
int decode(const CommandLine& line, ProgramRun& run) {
    int worst = static_cast<int>(ExitCode::Ok);
    for (const std::string& input : line.inputs) {
        ProgramRun file_run = run;
        const int code = decode_file(line, input, file_run);
        worst = std::max(worst, code);
        if (code == static_cast<int>(ExitCode::NoMemory) ||
            code == static_cast<int>(ExitCode::ChannelFailure))
            break;
    }
    return worst;
}

} // namespace

int decoder_run(int argc, char** argv) noexcept {
    return program_main(Program::Decoder, argc, argv, decoder_help_text(), decoder_config_options(),
                        decode);
}
