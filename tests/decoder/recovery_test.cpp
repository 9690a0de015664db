// Packet recovery on chip tracks built from the encoder's chip strings, and the instance
// summary with its report lines.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "common/packet.h"
#include "decoder/detector.h"
#include "decoder/recovery.h"

namespace {

const std::string kSync(kSyncPattern);

// Soft chips as the detector reads a clean mark: +a for chip 1, -a for chip 0, times polarity.
std::vector<float> soft(const std::string& chips, float polarity = 1.0f, float a = 1.0f) {
    std::vector<float> v;
    for (const char c : chips)
        v.push_back((c == '1' ? a : -a) * polarity);
    return v;
}

ChipTrack track_of(const std::vector<float>& values) {
    ChipTrack track;
    track.values.assign(kTrackCapacity, 0.0f);
    track.average.assign(kTrackCapacity, 0.0f);
    std::copy(values.begin(), values.end(), track.values.begin());
    track.count = static_cast<int32_t>(values.size());
    return track;
}

// The chips of a packet body: time stamp digits when given, payload and check, Manchester coded.
std::string body(const std::string& payload, uint16_t mask = 0) {
    std::string chips;
    const std::array<char, 4> check = check_digits(payload, mask);
    hex_to_chips(payload + std::string(check.begin(), check.end()), chips);
    return chips;
}

std::string packet(const std::string& payload, float t = -1.0f) {
    return *packet_build(payload, t, t >= 0.0f ? 50.0f : 0.0f, 0);
}

struct Search {
    int32_t found = 0;
    std::vector<DecodedPacket> packets;
};

Search search(ChipTrack& track, size_t entries = kPacketCapacity, uint16_t mask = 0) {
    Search s;
    s.packets.resize(entries);
    s.found = packet_search(track, s.packets, mask);
    s.packets.resize(static_cast<size_t>(s.found));
    return s;
}

TEST(SyncAgreements, ExactNearAndNoSync) {
    EXPECT_EQ(sync_agreements(soft(kSync)), 0);
    EXPECT_EQ(sync_agreements(soft(kSync, -1.0f)), 12);
    EXPECT_EQ(sync_agreements(soft("100111000111")), 1);
    EXPECT_EQ(sync_agreements(soft("110111000111")), 2);
    // Zero agrees with "1": a silent stretch reads half a sync.
    EXPECT_EQ(sync_agreements(std::vector<float>(12, 0.0f)), 6);
}

// The lead-in's last three chips and the first sync read as an exact sync of the opposite
// polarity. Whatever the payload's check value and wherever in the lead-in the track starts,
// every body closed by a sync must be found, in either polarity.
TEST(PacketSearch, LeadInDoesNotHideTheFirstSyncForAnyPayload) {
    const std::vector<std::string> payloads = {"0123ABCD", "0A1B", "1A20",     "CAFEBABE", "00FF",
                                               "BEEF",     "12",   "FFFFFFFF", "A5A5",     "7E"};
    int weight_two_set = 0;
    int weight_two_clear = 0;
    for (const std::string& payload : payloads) {
        const char last = check_digits(payload, 0)[3];
        const int value = last <= '9' ? last - '0' : last - 'A' + 10;
        ((value & 2) ? weight_two_set : weight_two_clear)++;
        for (const bool stamped : {false, true}) {
            for (const int lead : {1, 3, 4, 7, 16, 40}) {
                for (const float polarity : {1.0f, -1.0f}) {
                    SCOPED_TRACE(payload + (stamped ? " stamped" : "") + " lead-in " +
                                 std::to_string(lead) + " polarity " + std::to_string(polarity));
                    std::string chips(static_cast<size_t>(lead), '1');
                    for (int k = 0; k < 3; ++k)
                        chips += packet(payload, stamped ? 60.0f : -1.0f);
                    chips += kSync + "011"; // the next packet's sync closes the third body
                    ChipTrack track = track_of(soft(chips, polarity));
                    const Search s = search(track);
                    ASSERT_EQ(s.found, 3);
                    for (int k = 0; k < 3; ++k) {
                        EXPECT_EQ(s.packets[static_cast<size_t>(k)].payload, payload);
                        // A packet that starts at 60 s ends at 62.x s: 4 quarter minutes.
                        EXPECT_EQ(s.packets[static_cast<size_t>(k)].time_stamp, stamped ? 4 : -1);
                    }
                }
            }
        }
    }
    EXPECT_GT(weight_two_set, 0); // 0123ABCD (check B74E) is one of them
    EXPECT_GT(weight_two_clear, 0);
}

TEST(PacketSearch, ARealSyncKeepsItsPlaceWhenTheBodyAfterItLooksLikeASyncTail) {
    // Bodies starting with the chips 0 1 0 or 1 0 0 make the window three chips after a real
    // sync a near sync of the opposite polarity; only an exact one may take the sync's place.
    for (const std::string payload : {"00", "40", "80", "C0", "20", "60"}) {
        SCOPED_TRACE(payload);
        const std::string chips = kSync + body(payload) + kSync + body(payload) + kSync + "011";
        ChipTrack track = track_of(soft(chips));
        EXPECT_EQ(search(track).found, 2);
    }
}

TEST(PacketSearch, FortyEightChipBodyIsDecodedFortyIsNot) {
    const std::string b48 = body("AB");
    ASSERT_EQ(b48.size(), 48u);
    ChipTrack whole = track_of(soft(kSync + b48 + kSync + "011"));
    const Search s = search(whole);
    ASSERT_EQ(s.found, 1);
    EXPECT_EQ(s.packets[0].payload, "AB");
    EXPECT_EQ(s.packets[0].time_stamp, -1);

    const std::string b40 = body("A"); // one digit and the check: a body packet_parse accepts
    ASSERT_EQ(b40.size(), 40u);
    ChipTrack short_body = track_of(soft(kSync + b40 + kSync + "011"));
    EXPECT_EQ(search(short_body).found, 0);
}

TEST(PacketSearch, TimeStampOnlyInBodiesOf56Plus16kChips) {
    // "AB" with a time stamp: 72 = 56 + 16 chips; "ABCD" without: 64 = 48 + 16 chips.
    const std::string stamped = packet("AB", 60.0f);
    const std::string plain = packet("ABCD");
    ASSERT_EQ(stamped.size() - 12, 72u);
    ASSERT_EQ(plain.size() - 12, 64u);
    ChipTrack track = track_of(soft(stamped + plain + kSync + "011"));
    const Search s = search(track);
    ASSERT_EQ(s.found, 2);
    EXPECT_EQ(s.packets[0].payload, "AB");
    EXPECT_EQ(s.packets[0].time_stamp, 4); // (T 01:00)
    EXPECT_EQ(s.packets[1].payload, "ABCD");
    EXPECT_EQ(s.packets[1].time_stamp, -1);
}

TEST(PacketSearch, AveragedBodiesReadTheTimeStampOfTheirOwnReading) {
    // The later bodies decode from the average of all, which mixes two time stamps; each
    // packet still carries the stamp its own reading shows clearly.
    std::string chips = packet("AB", 0.0f);
    for (int k = 0; k < 3; ++k)
        chips += packet("AB", 60.0f);
    ChipTrack track = track_of(soft(chips + kSync + "011"));
    const Search s = search(track);
    ASSERT_EQ(s.found, 4);
    const int32_t expected[] = {0, 4, 4, 4};
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(s.packets[k].payload, "AB");
        EXPECT_EQ(s.packets[k].time_stamp, expected[k]);
    }
}

TEST(PacketSearch, WeakTimeStampsAreReadTogetherAndNeverAcrossACut) {
    // Stamp pairs of strengths 0.2 and 0.4 against payload pairs of 2 (one in eight of 1): no
    // packet's stamp is reliable alone; the readings of packets that follow each other are.
    // Two packets from 45 s later (a cut), at the same chip clock, show just as weakly a stamp
    // one bit away from the earlier one: they never take the earlier stamp.
    std::vector<float> values;
    const auto add = [&](float t) {
        const std::string chips = *packet_build("0123ABCD", t, 50.0f, 0);
        for (size_t i = 0; i < chips.size(); ++i) {
            const float a = i < 12                  ? 1.0f
                            : i < 36                ? (i / 2 % 2 == 0 ? 0.1f : 0.2f)
                            : (i - 36) / 2 % 8 == 7 ? 0.5f
                                                    : 1.0f;
            values.push_back(chips[i] == '1' ? a : -a);
        }
    };
    const float duration = 132.0f / 50.0f;
    for (int k = 0; k < 5; ++k)
        add(52.0f + duration * static_cast<float>(k)); // ends in (T 01:00)
    for (int k = 0; k < 2; ++k)
        add(96.0f + duration * static_cast<float>(k)); // ends in (T 01:45)
    const std::vector<float> end = soft(kSync + "011");
    values.insert(values.end(), end.begin(), end.end());
    ChipTrack track = track_of(values);
    const Search s = search(track);
    ASSERT_EQ(s.found, 7);
    const int32_t expected[] = {-1, 4, 4, 4, 4};
    for (size_t k = 0; k < 7; ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(s.packets[k].payload, "0123ABCD");
        if (k < 5)
            EXPECT_EQ(s.packets[k].time_stamp, expected[k]);
        else
            EXPECT_TRUE(s.packets[k].time_stamp == -1 || s.packets[k].time_stamp == 7);
    }
}

TEST(PacketSearch, ExactSyncDropsAShortBodyNearSyncPassesOverIt) {
    const std::string manchester30 = "011001100101100110101001010110";
    ASSERT_EQ(manchester30.size(), 30u);
    std::string near_sync = kSync;
    near_sync[0] = '1';
    const std::string tail = body("AB") + kSync + "011";
    ChipTrack exact = track_of(soft(manchester30 + kSync + tail));
    EXPECT_EQ(search(exact).found, 1);
    // The near sync is passed over, so the body before the next sync is 90 chips long and
    // is dropped with that sync.
    ChipTrack near = track_of(soft(manchester30 + near_sync + tail));
    EXPECT_EQ(search(near).found, 0);
}

TEST(PacketSearch, NearSyncMarksTheEndOfAWholeBody) {
    std::string near_sync = kSync;
    near_sync[7] = near_sync[7] == '0' ? '1' : '0';
    ChipTrack track = track_of(soft(kSync + body("CAFE") + near_sync + "011"));
    const Search s = search(track);
    ASSERT_EQ(s.found, 1);
    EXPECT_EQ(s.packets[0].payload, "CAFE");
}

TEST(PacketSearch, BodiesBehindAMissedSyncAreDecodedAsRepetitions) {
    std::string broken = kSync; // two chips wrong: not a sync
    broken[1] = '1';
    broken[4] = '0';
    const std::string b = body("0A1B");
    ChipTrack track = track_of(soft(kSync + b + kSync + b + broken + b + kSync + "011"));
    const Search s = search(track);
    ASSERT_EQ(s.found, 3);
    for (const DecodedPacket& p : s.packets)
        EXPECT_EQ(p.payload, "0A1B");
    EXPECT_EQ(track.average_length, static_cast<int32_t>(b.size()));
}

TEST(PacketSearch, RepeatedBodyIsReadFromTheAverageWhenNeitherReadingDecodes) {
    const std::string b = body("1A20");
    std::vector<float> first = soft(b);
    std::vector<float> second = soft(b);
    // Each reading has a different bit weakly wrong; their average has every bit right.
    first[8] = -first[8] * 0.3f;
    first[9] = -first[9] * 0.3f;
    second[40] = -second[40] * 0.3f;
    second[41] = -second[41] * 0.3f;
    std::vector<float> values = soft(kSync);
    values.insert(values.end(), first.begin(), first.end());
    const std::vector<float> sync = soft(kSync);
    values.insert(values.end(), sync.begin(), sync.end());
    values.insert(values.end(), second.begin(), second.end());
    const std::vector<float> end = soft(kSync + "011");
    values.insert(values.end(), end.begin(), end.end());
    ChipTrack track = track_of(values);
    const Search s = search(track);
    ASSERT_EQ(s.found, 1);
    EXPECT_EQ(s.packets[0].payload, "1A20");
}

TEST(PacketSearch, AnUnclearReadingIsHeldUntilAnotherReadingGivesItsPayload) {
    // Pairs of strengths 2.0, 1.2 and 0.4 in turn: a body that passes its check, but with a
    // clarity (1.8) at which a few bits read wrong could have passed it by chance.
    const uint16_t mask = 0x5A3C;
    std::vector<float> unclear = soft(body("1123A3CD", mask));
    for (size_t k = 0; k < unclear.size(); ++k)
        unclear[k] *= std::array{1.0f, 0.6f, 0.2f}[(k / 2) % 3];
    ChipTrack track = track_of({});
    const auto append = [&](const std::vector<float>& chips) {
        std::copy(chips.begin(), chips.end(), track.values.begin() + track.count);
        track.count += static_cast<int32_t>(chips.size());
    };
    // Each body is closed by the next sync. The second is read from an average that holds the
    // first, not yet independent of it; the third makes it so, and all three come out in order.
    const int32_t expected[] = {0, 0, 0, 3};
    for (int32_t k = 0; k < 4; ++k) {
        append(soft(kSync));
        append(k < 3 ? unclear : soft("011"));
        const Search s = search(track, kPacketCapacity, mask);
        EXPECT_EQ(s.found, expected[k]) << "after body " << k;
        for (const DecodedPacket& p : s.packets)
            EXPECT_EQ(p.payload, "1123A3CD");
    }
}

TEST(PacketSearch, FullPacketArrayIsNeverWrittenPastItsFreePart) {
    const std::string b = body("0A1B");
    std::string broken = kSync;
    broken[1] = '1';
    broken[4] = '0';
    ChipTrack track = track_of(soft(kSync + b + broken + b + kSync + "011"));
    track.average_length = static_cast<int32_t>(b.size());
    const std::vector<float> clean = soft(b);
    std::copy(clean.begin(), clean.end(), track.average.begin());
    std::vector<DecodedPacket> entries(3, DecodedPacket{"UNTOUCHED", 7});
    const int32_t found = packet_search(track, std::span<DecodedPacket>(entries).first(1), 0);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(entries[0].payload, "0A1B");
    EXPECT_EQ(entries[1].payload, "UNTOUCHED");
    EXPECT_EQ(entries[1].time_stamp, 7);
}

TEST(PacketSearch, StopsWhenTheArrayIsFullAndResumesNextTime) {
    std::string chips = kSync;
    for (int k = 0; k < 5; ++k)
        chips += body("ABCD") + kSync;
    chips += "011";
    ChipTrack track = track_of(soft(chips));
    EXPECT_EQ(search(track, 2).found, 2);
    EXPECT_EQ(search(track, 2).found, 2);
    EXPECT_EQ(search(track, 2).found, 1);
    EXPECT_EQ(search(track, 2).found, 0);
}

TEST(PacketSearch, ChipsArrivingInPiecesGiveTheSamePackets) {
    std::string chips(25, '1');
    for (int k = 0; k < 4; ++k)
        chips += packet("0123ABCD");
    const std::vector<float> all = soft(chips);
    for (const size_t piece : {1u, 7u, 50u}) {
        SCOPED_TRACE(piece);
        ChipTrack track = track_of({});
        int32_t found = 0;
        for (size_t at = 0; at < all.size(); at += piece) {
            const size_t n = std::min(piece, all.size() - at);
            std::copy(all.begin() + static_cast<std::ptrdiff_t>(at),
                      all.begin() + static_cast<std::ptrdiff_t>(at + n),
                      track.values.begin() + track.count);
            track.count += static_cast<int32_t>(n);
            found += search(track).found;
        }
        EXPECT_EQ(found, 3);
    }
}

TEST(PacketSearch, WrongCheckMaskFindsNothing) {
    const uint16_t mask = static_cast<uint16_t>((683 ^ 0x36D9) & 0xFFFF);
    const std::string chips = kSync + body("0A1B", mask) + kSync + "011";
    ChipTrack public_reader = track_of(soft(chips));
    EXPECT_EQ(search(public_reader, kPacketCapacity, 0).found, 0);
    ChipTrack private_reader = track_of(soft(chips));
    EXPECT_EQ(search(private_reader, kPacketCapacity, mask).found, 1);
}

TEST(FrameEnd, TrackThatYieldsAPacketGetsThePickersLevelWeakTracksAreDropped) {
    // Picker state (level, mean, deviation) before a silent frame, which only decays them.
    const struct {
        float level, mean, deviation;
        bool kept;
    } cases[] = {
        {50.0f, 2.0f, 0.0f, true},    // the picker's level stays above mean + deviation
        {1.0f, 100.0f, 20.0f, false}, // even the picker's level is below the threshold
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kept);
        auto ch = decoder_create(22050, "", "");
        ASSERT_TRUE(ch);
        ch->peak_picker.level = c.level;
        ch->peak_picker.mean = c.mean;
        ch->peak_picker.deviation = c.deviation;
        const std::vector<float> chips = soft(kSync + body("ABCD") + kSync + "011");
        std::copy(chips.begin(), chips.end(), ch->tracks[0].values.begin());
        ch->tracks[0].count = static_cast<int32_t>(chips.size());
        ch->tracks[0].next_instant = 100;
        ch->tracks[0].level = 1.0f;
        ch->tracks[1].count = 5; // a track without a packet, its level fading with the silence
        ch->tracks[1].average_length = 64;
        ch->tracks[1].next_instant = 200;
        ch->tracks[1].level = 1.0f;
        const std::vector<float> silence(22050, 0.0f);
        ASSERT_EQ(decoder_process(*ch, silence), 1);
        EXPECT_EQ(ch->packets[0].payload, "ABCD");
        EXPECT_EQ(ch->tracks[0].count > 0, c.kept);
        if (c.kept) {
            EXPECT_EQ(ch->tracks[0].level, ch->peak_picker.level);
        }
        EXPECT_EQ(ch->tracks[1].count, 0);
        EXPECT_EQ(ch->tracks[1].average_length, 0);
        EXPECT_EQ(ch->tracks[1].level, 0.0f);
        EXPECT_EQ(ch->replacement_slot, c.kept ? 1 : 0); // the first inactive slot
    }
}

TEST(InstanceSummary, CountsByPayloadInOrderOfFirstAppearance) {
    InstanceSummary summary;
    const DecodedPacket packets[] = {{"AA", -1}, {"BB", 4}, {"AA", 20},
                                     {"AA", -1}, {"AA", 9}, {"BB", -1}};
    for (const DecodedPacket& p : packets)
        summary_add(summary, p);
    ASSERT_EQ(summary.entries.size(), 2u);
    EXPECT_EQ(summary.entries[0].payload, "AA");
    EXPECT_EQ(summary.entries[0].count, 4);
    EXPECT_EQ(summary.entries[0].first_time, 20);
    EXPECT_EQ(summary.entries[0].last_time, 9);
    EXPECT_EQ(summary.entries[1].payload, "BB");
    EXPECT_EQ(summary.entries[1].count, 2);
    EXPECT_EQ(summary.entries[1].first_time, 4);
    EXPECT_EQ(summary.entries[1].last_time, 4);
    EXPECT_EQ(summary_entry_line(summary.entries[0]),
              "(xAA) - 4 instance(s) - (T 05:00) through (T 02:15)\n");
}

TEST(InstanceSummary, FirstTimeStampMayComeAfterPacketsWithout) {
    InstanceSummary summary;
    summary_add(summary, {"CC", -1});
    summary_add(summary, {"CC", 20});
    EXPECT_EQ(summary_entry_line(summary.entries[0]),
              "(xCC) - 2 instance(s) - (T 05:00) through (T 05:00)\n");
    summary_add(summary, {"DD", -1});
    EXPECT_EQ(summary_entry_line(summary.entries[1]), "(xDD) - 1 instance(s)\n");
}

TEST(InstanceSummary, HundredPayloadsAtMost) {
    InstanceSummary summary;
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(summary_add(summary, {std::to_string(1000 + i), -1}), i + 1);
    EXPECT_EQ(summary_add(summary, {"FFFF", 3}), 100);
    EXPECT_EQ(summary_add(summary, {"1000", -1}), 100);
    ASSERT_EQ(summary.entries.size(), 100u);
    EXPECT_EQ(summary.entries[0].count, 2);
    EXPECT_EQ(summary.entries[99].payload, "1099");
}

TEST(ReportLines, PacketAndEntryLinesAreExact) {
    EXPECT_EQ(packet_line({"0123ABCD", 11}), "x0123ABCD (T 02:45)\n");
    EXPECT_EQ(packet_line({"AB", -1}), "xAB\n");
    EXPECT_EQ(packet_line({"AB", 4095}), "xAB (T 1023:45)\n");
    EXPECT_EQ(summary_entry_line({"1A2B", 7, 4, 9}),
              "(x1A2B) - 7 instance(s) - (T 01:00) through (T 02:15)\n");
    EXPECT_EQ(summary_entry_line({"1A2B", 7, -1, -1}), "(x1A2B) - 7 instance(s)\n");
    const std::string long_payload(98, 'F'); // no fixed buffer to run over
    EXPECT_EQ(summary_entry_line({long_payload, 1, -1, -1}),
              "(x" + long_payload + ") - 1 instance(s)\n");
}

} // namespace
