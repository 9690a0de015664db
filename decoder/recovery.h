#pragma once
// Packet recovery on a chip track (sync search, polarity, whole and repeated bodies, averaging)
// and the reporting of what was found: per-packet lines and the instance summary.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decoder/decoder_channel.h"

inline constexpr int32_t kSummaryCapacity = 100; // distinct payloads the summary keeps
inline constexpr int32_t kMinBodyChips = 48;     // one payload byte and the check value

struct SummaryEntry {
    std::string payload;     // hexadecimal digits
    int32_t count = 0;       // packets that carried it
    int32_t first_time = -1; // first time stamp seen with it, -1 none
    int32_t last_time = -1;  // latest time stamp seen with it, -1 none
};

// Payloads of a whole run in order of first appearance, at most kSummaryCapacity of them.
struct InstanceSummary {
    std::vector<SummaryEntry> entries;
};

// Agreements of 12 chip values with the sync pattern "000111000111": a value agrees with "0"
// when it is > 0 and with "1" when it is <= 0. 0 or 12 is an exact sync, 1 or 11 a near one.
int32_t sync_agreements(std::span<const float> values) noexcept;

// Searches the track for syncs from its search position, decodes the bodies they close and
// stores accepted packets in free_entries[0 ...]; returns how many (0 ... free_entries.size()).
// Everything up to and including a recognised sync is consumed from the track. A sync that
// starts three chips before an exact sync of the opposite polarity (the lead-in followed by
// the first packet's sync reads so) yields to that one. A packet read without a clear margin is
// held on the track until a reading independent of it confirms its payload, and is stored then.
// `chip_rate` (chips per second) tells how far apart in time the packets of a track end.
int32_t packet_search(ChipTrack& track, std::span<DecodedPacket> free_entries, uint16_t check_mask,
                      float chip_rate = 50.0f);

// Counts the packet under its payload (a new entry while fewer than 100 exist) and keeps the
// first and the latest time stamp. Returns the number of entries.
int32_t summary_add(InstanceSummary& summary, const DecodedPacket& packet);

// "x<payload>" and " (T mm:ss)" when the packet carries a time stamp, then a line feed.
std::string packet_line(const DecodedPacket& packet);

// "(x<payload>) - <count> instance(s)" and " - (T mm:ss) through (T mm:ss)" when a time stamp
// was seen, then a line feed.
std::string summary_entry_line(const SummaryEntry& entry);
