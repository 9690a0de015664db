#include "decoder/recovery.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

#include "common/packet.h"
#include "common/text_format.h"

namespace {

// Decodes one body into the scratch entry: never into the caller's array, whose free part
// may already be used up.
constexpr double kPlausibleClarity = 1.7;

// How clearly a body shows its bits: the mean of its pairs' differences in magnitude over their
// spread. Noise shows about 1.3: a body whose check passes by chance (one in 65536) is turned
// away below kPlausibleClarity (on unmarked music 1 in 20 attempts reaches it), which the
// packets read on marked music clear but for a few weak single readings.
double clarity(std::span<const float> body) {
    double sum = 0.0;
    double squares = 0.0;
    const size_t pairs = body.size() / 2;
    for (size_t k = 0; k < pairs; ++k) {
        const double d =
            std::fabs(static_cast<double>(body[2 * k + 1]) - static_cast<double>(body[2 * k]));
        sum += d;
        squares += d * d;
    }
    const double mean = sum / static_cast<double>(pairs);
    const double spread =
        std::sqrt(std::max(squares / static_cast<double>(pairs) - mean * mean, 0.0));
    return spread > 0.0 ? mean / spread : 1e9;
}

// The clarity of a body whose check matches and which clears kPlausibleClarity; else 0.
double decode(std::span<const float> body, float polarity, uint16_t check_mask,
              DecodedPacket& scratch) {
    if (!packet_parse(body, polarity, static_cast<int32_t>(body.size()), scratch.payload,
                      scratch.time_stamp, check_mask))
        return 0.0;
    const double c = clarity(body);
    return c >= kPlausibleClarity ? c : 0.0;
}

// A reading this clear is taken at once. Below it, a body read with a few bits wrong may pass
// the check by chance (one in 65536): the reading of a mark on another layer, whose chips
// correlate a little with this layer's, does so at clarities of 2 to 3, every one of its
// readings a new draw. Such a packet is held until a reading independent of it gives the
// same payload; a chance pass is never repeated so.
constexpr double kClearReading = 4.0;
// Packets a track slot holds unconfirmed, and payloads it remembers as confirmed.
constexpr size_t kHeldPackets = 4;
constexpr size_t kConfirmedPayloads = 4;

// Bodies of one length are averaged with equal weights, up to this many; after that the
// average forgets the oldest bodies gradually.
constexpr int32_t kAverageDepth = 16;
// Bodies in a row that a locked track may fail to decode before it searches syncs anew.
constexpr int32_t kLockMisses = 4;

// A time stamp is reported only when the chance that it is wrong, judged from how the readings
// show the payload's known bits, stays below this.
constexpr double kStampRisk = 1e-4;
// The stamp readings of a track that a new one is read together with: at most this many, from
// at most this many seconds before it.
constexpr size_t kStampReadings = 8;
constexpr double kStampSeconds = 40.0;
// The prior chance that the audio was cut between the earlier readings and the current one, so
// that their stamps do not follow on from each other.
constexpr double kStampBreak = 0.01;
constexpr size_t kStamps = 4096; // stamp values: 12 bits

// The time stamp of an accepted body of b chips (b not a multiple of 16) as `chips` show it,
// or -1 when its bits are not reliable there. Once the check has passed, the payload and check
// bits are known: the pair differences they give, turned to agree with their bits, measure the
// reading's strength (mean) and noise (spread). A stamp pair of difference d is then wrong with
// the probability 1 / (1 + exp(2 mean |d| / spread^2)) = 1 / (1 + exp(2 factor |d|)).
struct PairReading {
    std::array<double, 12> stamp{}; // the stamp pairs' differences, turned by the polarity
    double factor = 0.0;            // mean / spread^2
};

// The payload and check digits next to the stamp that tell how strongly and cleanly a reading
// shows its bits there: a long body may be loud in one place and quiet in another.
constexpr size_t kStampNeighbours = 8;

// The stamp pairs of an accepted body of b chips (b not a multiple of 16) and how strongly and
// cleanly the same reading shows the payload and check bits next to them, known once the
// check has passed.
// Empty when the body carries no stamp or its reading is too weak to judge.
std::optional<PairReading> read_pairs(std::span<const float> chips, float polarity,
                                      const std::string& payload, uint16_t check_mask) {
    if (chips.size() % 16 == 0 || chips.size() < 24)
        return std::nullopt;
    const std::array<char, 4> check = check_digits(payload, check_mask);
    std::string digits = payload;
    digits.append(check.begin(), check.end());
    const auto pair = [&](size_t k) {
        return (static_cast<double>(chips[2 * k + 1]) - static_cast<double>(chips[2 * k])) *
               static_cast<double>(polarity);
    };
    double sum = 0.0;
    double squares = 0.0;
    size_t n = 0;
    for (size_t i = 0; i < kStampNeighbours && i < digits.size() && 24 + 8 * i + 8 <= chips.size();
         ++i) {
        const char c = digits[i];
        const int value = c <= '9' ? c - '0' : c - 'A' + 10;
        for (int bit = 0; bit < 4; ++bit) {
            const double d = pair(12 + 4 * i + static_cast<size_t>(bit));
            const double x = (value >> (3 - bit)) & 1 ? d : -d;
            sum += x;
            squares += x * x;
            ++n;
        }
    }
    if (n < 8)
        return std::nullopt;
    const double mean = sum / static_cast<double>(n);
    if (!(mean > 0.0))
        return std::nullopt;
    // The same from the stamp pairs' own magnitudes (their bits are not known), where that is
    // the less sure: the noise may be stronger where the stamp lies.
    PairReading r;
    double stamp_sum = 0.0;
    double stamp_squares = 0.0;
    for (size_t k = 0; k < 12; ++k) {
        r.stamp[k] = pair(k);
        stamp_sum += std::fabs(r.stamp[k]);
        stamp_squares += r.stamp[k] * r.stamp[k];
    }
    const double stamp_mean = stamp_sum / 12.0;
    const auto factor = [](double m, double squares_mean) {
        return m / std::max(squares_mean - m * m, 1e-4 * m * m);
    };
    r.factor = std::min(factor(mean, squares / static_cast<double>(n)),
                        factor(stamp_mean, stamp_squares / 12.0));
    return r;
}

// The stamp as its 12 pairs show it when the chance that any bit is wrong stays below
// kStampRisk (a pair of difference d is wrong with the probability
// 1 / (1 + exp(2 factor |d|))); else -1.
int32_t reliable_time_stamp(const PairReading& r) {
    double risk = 0.0;
    uint32_t bits = 0;
    for (size_t k = 0; k < 12; ++k) {
        const double d = r.stamp[k];
        if (d > 0.0)
            bits |= 1u << (11 - k);
        risk += 1.0 / (1.0 + std::exp(std::min(2.0 * r.factor * std::fabs(d), 700.0)));
    }
    return risk < kStampRisk ? static_cast<int32_t>(gray_code(bits, -1)) : -1;
}

// The 12-bit Gray code of every stamp value.
const std::array<uint16_t, kStamps>& stamp_codes() {
    static const std::array<uint16_t, kStamps> codes = [] {
        std::array<uint16_t, kStamps> c{};
        for (uint32_t v = 0; v < kStamps; ++v)
            c[v] = static_cast<uint16_t>(gray_code(v, 1) & 0xFFF);
        return c;
    }();
    return codes;
}

StampReading stamp_reading(const PairReading& r, int32_t chip) {
    StampReading s;
    s.chip = chip;
    for (size_t k = 0; k < 12; ++k)
        s.weight[k] = static_cast<float>(r.stamp[k] * r.factor);
    return s;
}

// The stamp of the latest of a track's readings (oldest first), read together with the earlier
// ones, or -1 when the chance that it is wrong is not below kStampRisk. The encoder stamps a
// packet with the time at which it ends, rounded to 15 s; the readings' chip positions tell how
// far apart they ended. Given the latest stamp s and where within its 15 s the latest packet
// ended (the phase, equally likely anywhere), every earlier stamp follows: s minus the 15-s
// boundaries that lie between. The phases fall into at most one interval more than there are
// readings, each giving one such pattern. With the chance kStampBreak the earlier readings do
// not belong (the audio was cut), and the latest stands alone. Each reading weighs every stamp
// value by the log-likelihood its bits give it.
int32_t joint_time_stamp(std::span<const StampReading> readings, double chip_rate) {
    const std::array<uint16_t, kStamps>& codes = stamp_codes();
    const size_t n = readings.size();
    std::vector<float> ll(n * kStamps);
    for (size_t i = 0; i < n; ++i) {
        const std::array<float, 12>& w = readings[i].weight;
        float* row = ll.data() + i * kStamps;
        for (size_t v = 0; v < kStamps; ++v) {
            float x = 0.0f;
            for (size_t k = 0; k < 12; ++k)
                x += (codes[v] >> (11 - k)) & 1 ? w[k] : -w[k];
            row[v] = x;
        }
    }
    const float* latest = ll.data() + (n - 1) * kStamps;
    std::vector<double> ago(n);
    std::vector<double> cuts{0.0, 15.0};
    for (size_t i = 0; i < n; ++i) {
        ago[i] = static_cast<double>(readings.back().chip - readings[i].chip) / chip_rate;
        cuts.push_back(std::fmod(ago[i], 15.0));
    }
    std::sort(cuts.begin(), cuts.end());
    // Per pattern: its weight and, for every latest stamp, the log-likelihood of all readings
    // (`all`) and of the earlier ones alone (`earlier`).
    std::vector<double> weights;
    std::vector<float> all;
    std::vector<float> earlier;
    float top_all = -std::numeric_limits<float>::infinity();
    float top_earlier = top_all;
    for (size_t c = 0; c + 1 < cuts.size(); ++c) {
        if (!(cuts[c + 1] - cuts[c] > 1e-9))
            continue;
        const double phase = 0.5 * (cuts[c] + cuts[c + 1]);
        weights.push_back((cuts[c + 1] - cuts[c]) / 15.0);
        const size_t at = all.size();
        all.resize(at + kStamps, 0.0f);
        for (size_t i = 0; i + 1 < n; ++i) {
            const auto shift = static_cast<int64_t>(std::floor((phase - ago[i]) / 15.0));
            const float* row = ll.data() + i * kStamps;
            for (size_t v = 0; v < kStamps; ++v)
                all[at + v] += row[static_cast<size_t>(static_cast<int64_t>(v) + shift) & 0xFFF];
        }
        earlier.insert(earlier.end(), all.begin() + static_cast<std::ptrdiff_t>(at), all.end());
        for (size_t v = 0; v < kStamps; ++v) {
            all[at + v] += latest[v];
            top_all = std::max(top_all, all[at + v]);
            top_earlier = std::max(top_earlier, earlier[at + v]);
        }
    }
    // exp(x - top), dropping what cannot matter against kStampRisk.
    const auto scaled = [](double x, double top) {
        return x - top < -60.0 ? 0.0 : std::exp(x - top);
    };
    double earlier_sum = 0.0;
    std::vector<double> joint(kStamps, 0.0);
    for (size_t p = 0; p < weights.size(); ++p) {
        for (size_t v = 0; v < kStamps; ++v) {
            joint[v] += weights[p] * scaled(all[p * kStamps + v], top_all);
            earlier_sum += weights[p] * scaled(earlier[p * kStamps + v], top_earlier);
        }
    }
    // log of the earlier readings' own evidence, each stamp value a priori 1 in 4096.
    const double earlier_log =
        static_cast<double>(top_earlier) + std::log(earlier_sum / static_cast<double>(kStamps));
    std::vector<double> posterior(kStamps);
    double top = -std::numeric_limits<double>::infinity();
    for (size_t v = 0; v < kStamps; ++v) {
        const double a =
            joint[v] > 0.0 ? std::log((1.0 - kStampBreak) * joint[v]) + static_cast<double>(top_all)
                           : -std::numeric_limits<double>::infinity();
        const double b = std::log(kStampBreak) + static_cast<double>(latest[v]) + earlier_log;
        const double hi = std::max(a, b);
        posterior[v] = hi + std::log(std::exp(a - hi) + std::exp(b - hi));
        top = std::max(top, posterior[v]);
    }
    double sum = 0.0;
    size_t best = 0;
    for (size_t v = 0; v < kStamps; ++v) {
        sum += scaled(posterior[v], top);
        if (posterior[v] == top)
            best = v;
    }
    return 1.0 - 1.0 / sum < kStampRisk ? static_cast<int32_t>(best) : -1;
}

void average_in(ChipTrack& track, std::span<const float> body) {
    track.average_count = std::min(track.average_count + 1, kAverageDepth);
    ++track.average_total;
    const double weight = 1.0 / track.average_count;
    for (size_t i = 0; i < body.size(); ++i) {
        const double mean = static_cast<double>(track.average[i]);
        track.average[i] =
            static_cast<float>(mean + (static_cast<double>(body[i]) - mean) * weight);
    }
}

void copy_to_average(ChipTrack& track, std::span<const float> body) {
    std::copy(body.begin(), body.end(), track.average.begin());
    track.average_count = 1;
    ++track.average_generation;
    track.average_total = 1;
}

// The 12 values against the sync pattern as a track of the given polarity reads it: positive
// when they lean towards it.
double sync_score(std::span<const float> values, float polarity) {
    double score = 0.0;
    for (size_t i = 0; i < static_cast<size_t>(kSyncChips); ++i) {
        const double sign = kSyncPattern[i] == '1' ? 1.0 : -1.0;
        score += sign * static_cast<double>(values[i]);
    }
    return score * static_cast<double>(polarity);
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

int32_t packet_search(ChipTrack& track, std::span<DecodedPacket> free_entries, uint16_t check_mask,
                      float chip_rate) {
    const auto capacity = static_cast<int32_t>(free_entries.size());
    int32_t found = 0;
    int32_t pos = std::max(0, track.search_position);
    DecodedPacket scratch;
    // Hands on the confirmed held packets, oldest first, while the array has room. A packet
    // that comes out more than two packets after it was read loses its time stamp: a stamp
    // tells the place where the packet is reported.
    const auto hand_on = [&]() {
        for (auto it = track.held.begin(); it != track.held.end() && found < capacity;) {
            if (!it->confirmed) {
                ++it;
                continue;
            }
            DecodedPacket& p = it->packet;
            const auto digits = static_cast<int32_t>(p.payload.size());
            const int32_t packet_chips = kSyncChips + 24 + 8 * (digits + 4);
            const int32_t later = track.chips_read - it->chip;
            if (later < 0 || later > 2 * packet_chips)
                p.time_stamp = -1;
            free_entries[static_cast<size_t>(found++)] = p;
            it = track.held.erase(it);
        }
    };
    // Takes the packet in `scratch`, read with the given clarity from the track's average as
    // it stands (a single body is copied into the average before). It goes out at once when
    // it is clear or its payload is confirmed in this slot; else it is held until a reading
    // that shares no body with it gives the same payload: another average, or the same one
    // with two more bodies in it.
    const auto store = [&](double clear) {
        const std::string& payload = scratch.payload;
        bool known = clear >= kClearReading ||
                     std::find(track.confirmed.begin(), track.confirmed.end(), payload) !=
                         track.confirmed.end();
        for (const HeldPacket& h : track.held) {
            known = known ||
                    (h.packet.payload == payload && (h.generation != track.average_generation ||
                                                     track.average_total >= h.total + 2));
        }
        track.held.push_back(HeldPacket{scratch, track.average_generation, track.average_total,
                                        track.chips_read, known});
        if (known) {
            for (HeldPacket& h : track.held)
                h.confirmed = h.confirmed || h.packet.payload == payload;
            std::erase(track.confirmed, payload);
            track.confirmed.push_back(payload);
            if (track.confirmed.size() > kConfirmedPayloads)
                track.confirmed.erase(track.confirmed.begin());
        } else if (std::count_if(track.held.begin(), track.held.end(), [](const HeldPacket& h) {
                       return !h.confirmed;
                   }) > static_cast<std::ptrdiff_t>(kHeldPackets)) {
            track.held.erase(std::find_if(track.held.begin(), track.held.end(),
                                          [](const HeldPacket& h) { return !h.confirmed; }));
        }
        hand_on();
    };
    hand_on();
    // A track that started anew has no stamp readings from its earlier clock.
    if (track.average_count == 0)
        track.stamp_readings.clear();
    // The time stamp of an accepted packet whose body ends before the chip `end` of `values`:
    // from its own reading when all 12 bits are clear, else read together with the track's
    // recent stamp readings. An average is never used for it: it mixes the stamps of the bodies
    // it holds.
    const auto stamp = [&](std::span<const float> own, float polarity, int32_t end) {
        scratch.time_stamp = -1;
        const std::optional<PairReading> r = read_pairs(own, polarity, scratch.payload, check_mask);
        if (!r)
            return;
        const StampReading reading = stamp_reading(*r, track.chips_read - track.count + end);
        std::vector<StampReading>& readings = track.stamp_readings;
        std::erase_if(readings, [&](const StampReading& earlier) {
            return earlier.chip >= reading.chip ||
                   static_cast<double>(reading.chip - earlier.chip) >
                       kStampSeconds * static_cast<double>(chip_rate);
        });
        if (readings.size() >= kStampReadings)
            readings.erase(readings.begin());
        readings.push_back(reading);
        scratch.time_stamp = reliable_time_stamp(*r);
        if (scratch.time_stamp < 0 && readings.size() > 1)
            scratch.time_stamp = joint_time_stamp(readings, static_cast<double>(chip_rate));
    };

    while (pos < track.count - kSyncChips && found < capacity) {
        const std::span<const float> values(track.values.data(), static_cast<size_t>(track.count));
        const int32_t e = track.average_length;
        // A track that reads packets expects the next sync one body length after the last: it
        // takes it there when the values lean towards the pattern, and nowhere before.
        const bool locked = track.lock_polarity != 0.0f && e > 0;
        if (locked && pos < e) {
            // Before it, only a sync that closes a body which decodes on its own (the payload
            // changed) is taken.
            const int32_t h = sync_agreements(values.subspan(static_cast<size_t>(pos), kSyncChips));
            const bool near = h <= 1 || h >= kSyncChips - 1;
            if (!near || pos < kMinBodyChips || pos % 8 != 0 ||
                decode(values.first(static_cast<size_t>(pos)), h <= 1 ? 1.0f : -1.0f, check_mask,
                       scratch) <= 0.0) {
                ++pos;
                continue;
            }
            track.lock_polarity = 0.0f;
        }
        const bool flywheel = locked && pos == e &&
                              sync_score(values.subspan(static_cast<size_t>(pos), kSyncChips),
                                         track.lock_polarity) > 0.0;
        const int32_t g = sync_agreements(values.subspan(static_cast<size_t>(pos), kSyncChips));
        if (!flywheel && g >= 2 && g <= kSyncChips - 2) {
            if (locked)
                track.lock_polarity = 0.0f; // no sync where expected: search anew
            ++pos;
            continue;
        }
        const float polarity = flywheel ? track.lock_polarity : g <= 1 ? 1.0f : -1.0f;
        const bool exact = g == 0 || g == kSyncChips;

        // The lead-in's last three chips "1" and the first sync read as an exact sync of the
        // opposite polarity three chips early. Taking it would leave the track three chips off
        // with the wrong polarity; so a sync yields to an exact sync of the opposite polarity
        // starting three chips later, and waits for those chips when they are not in yet.
        if (!flywheel) {
            if (pos + 3 + kSyncChips > track.count)
                break;
            const int32_t later =
                sync_agreements(values.subspan(static_cast<size_t>(pos + 3), kSyncChips));
            if (later == (polarity > 0.0f ? kSyncChips : 0)) {
                ++pos;
                continue;
            }
        }

        const std::span<const float> body = values.first(static_cast<size_t>(pos));
        const auto lock = [&]() {
            track.lock_polarity = polarity;
            track.lock_misses = 0;
        };
        if (pos >= kMinBodyChips && pos % 8 == 0) {
            if (pos == e) {
                if (track.lock_polarity != 0.0f && polarity != track.lock_polarity)
                    copy_to_average(track, body); // the polarity turned: start again
                else
                    average_in(track, body);
                const std::span<const float> average(track.average.data(), static_cast<size_t>(e));
                if (const double c = decode(average, polarity, check_mask, scratch); c > 0.0) {
                    stamp(body, polarity, pos);
                    store(c);
                    lock();
                } else if (const double c1 = decode(body, polarity, check_mask, scratch);
                           c1 > 0.0) {
                    stamp(body, polarity, pos);
                    copy_to_average(track, body);
                    store(c1);
                    lock();
                } else if (locked && ++track.lock_misses >= kLockMisses) {
                    track.lock_polarity = 0.0f;
                }
            } else if (const double c = decode(body, polarity, check_mask, scratch); c > 0.0) {
                stamp(body, polarity, pos);
                copy_to_average(track, body);
                track.average_length = pos;
                store(c);
                lock();
            } else if (track.lock_polarity == 0.0f) {
                // Until a track reads packets, its latest whole body starts the average even
                // when it does not decode: a body of the wrong length never blocks the right one.
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
                if (const double c = decode(average, polarity, check_mask, scratch); c > 0.0) {
                    if (found < capacity) {
                        stamp(one, polarity, k * (e + kSyncChips) + e);
                        store(c);
                        lock();
                    }
                } else if (const double c1 = decode(one, polarity, check_mask, scratch);
                           c1 > 0.0 && found < capacity) {
                    stamp(one, polarity, k * (e + kSyncChips) + e);
                    lock();
                    copy_to_average(track, one);
                    store(c1);
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
