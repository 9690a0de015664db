#include "decoder/recovery.h"

#include <algorithm>
#include <cstdio>

#include "common/packet.h"
#include "common/text_format.h"

namespace {

// Decodes one body into the scratch entry: never into the caller's array, whose free part
// may already be used up.
bool decode(std::span<const float> body, float polarity, uint16_t check_mask,
            DecodedPacket& scratch) {
    return packet_parse(body, polarity, static_cast<int32_t>(body.size()), scratch.payload,
                        scratch.time_stamp, check_mask);
}

void average_in(ChipTrack& track, std::span<const float> body) {
    for (size_t i = 0; i < body.size(); ++i) {
        const double mean = static_cast<double>(track.average[i]);
        track.average[i] = static_cast<float>(mean + (static_cast<double>(body[i]) - mean) * 0.5);
    }
}

void copy_to_average(ChipTrack& track, std::span<const float> body) {
    std::copy(body.begin(), body.end(), track.average.begin());
}

std::string time_text(int32_t t) {
    return text_format("(T %2.2d:%2.2d)", t >> 2, (t & 3) * 15);
}

} // namespace

int32_t sync_agreements(std::span<const float> values) noexcept {
    int32_t agreements = 0;
    for (size_t i = 0; i < static_cast<size_t>(kSyncChips); ++i) {
        const bool chip_one = kSyncPattern[i] == '1';
        agreements += (chip_one ? values[i] <= 0.0f : values[i] > 0.0f) ? 1 : 0;
    }
    return agreements;
}

int32_t packet_search(ChipTrack& track, std::span<DecodedPacket> free_entries,
                      uint16_t check_mask) {
    const auto capacity = static_cast<int32_t>(free_entries.size());
    int32_t found = 0;
    int32_t pos = std::max(0, track.search_position);
    DecodedPacket scratch;
    const auto store = [&]() { free_entries[static_cast<size_t>(found++)] = scratch; };

    while (pos < track.count - kSyncChips && found < capacity) {
        const std::span<const float> values(track.values.data(), static_cast<size_t>(track.count));
        const int32_t g = sync_agreements(values.subspan(static_cast<size_t>(pos), kSyncChips));
        if (g >= 2 && g <= kSyncChips - 2) {
            ++pos;
            continue;
        }
        const float polarity = g <= 1 ? 1.0f : -1.0f;
        const bool exact = g == 0 || g == kSyncChips;

        // The lead-in's last three chips "1" and the first sync read as an exact sync of the
        // opposite polarity three chips early. Taking it would leave the track three chips off
        // with the wrong polarity; so a sync yields to an exact sync of the opposite polarity
        // starting three chips later, and waits for those chips when they are not in yet.
        if (pos + 3 + kSyncChips > track.count)
            break;
        const int32_t later =
            sync_agreements(values.subspan(static_cast<size_t>(pos + 3), kSyncChips));
        if (later == (polarity > 0.0f ? kSyncChips : 0)) {
            ++pos;
            continue;
        }

        const std::span<const float> body = values.first(static_cast<size_t>(pos));
        const int32_t e = track.average_length;
        if (pos >= kMinBodyChips && pos % 8 == 0) {
            if (pos == e) {
                average_in(track, body);
                const std::span<const float> average(track.average.data(), static_cast<size_t>(e));
                if (decode(average, polarity, check_mask, scratch)) {
                    store();
                } else if (decode(body, polarity, check_mask, scratch)) {
                    store();
                    copy_to_average(track, body);
                }
            } else if (decode(body, polarity, check_mask, scratch)) {
                store();
                copy_to_average(track, body);
                track.average_length = pos;
            } else if (e == 0) {
                // The first whole body of a track starts its average even when it does not decode.
                copy_to_average(track, body);
                track.average_length = pos;
            }
        } else if (e >= 1 && (pos + kSyncChips) % (e + kSyncChips) == 0) {
            // Bodies of length E separated by syncs that were missed.
            const int32_t bodies = (pos + kSyncChips) / (e + kSyncChips);
            for (int32_t k = 0; k < bodies; ++k) {
                const std::span<const float> one = values.subspan(
                    static_cast<size_t>(k * (e + kSyncChips)), static_cast<size_t>(e));
                average_in(track, one);
                const std::span<const float> average(track.average.data(), static_cast<size_t>(e));
                if (decode(average, polarity, check_mask, scratch)) {
                    if (found < capacity)
                        store();
                } else if (decode(one, polarity, check_mask, scratch) && found < capacity) {
                    store();
                    copy_to_average(track, one);
                }
            }
        } else if (!exact) {
            // A near sync that closes no usable body is not taken for a sync.
            ++pos;
            continue;
        }

        const int32_t consumed = pos + kSyncChips;
        std::copy(track.values.begin() + consumed, track.values.begin() + track.count,
                  track.values.begin());
        track.count = std::max(0, track.count - consumed);
        pos = 0;
    }
    track.search_position = pos;
    return found;
}

int32_t summary_add(InstanceSummary& summary, const DecodedPacket& packet) {
    const int32_t t = packet.time_stamp;
    for (SummaryEntry& entry : summary.entries) {
        if (entry.payload != packet.payload)
            continue;
        ++entry.count;
        if (t >= 0) {
            if (entry.first_time < 0)
                entry.first_time = t;
            entry.last_time = t;
        }
        return static_cast<int32_t>(summary.entries.size());
    }
    if (static_cast<int32_t>(summary.entries.size()) < kSummaryCapacity) {
        summary.entries.push_back(SummaryEntry{packet.payload, 1, t, t});
    }
    return static_cast<int32_t>(summary.entries.size());
}

std::string packet_line(const DecodedPacket& packet) {
    std::string line("x");
    line += packet.payload;
    if (packet.time_stamp >= 0) {
        line += ' ';
        line += time_text(packet.time_stamp);
    }
    line += '\n';
    return line;
}

std::string summary_entry_line(const SummaryEntry& entry) {
    std::string line = text_format("(x%s) - %d instance(s)", entry.payload.c_str(), entry.count);
    if (entry.first_time >= 0) {
        line += " - ";
        line += time_text(entry.first_time);
        line += " through ";
        line += time_text(entry.last_time);
    }
    line += '\n';
    return line;
}
