// Round trips: generated audio watermarked by vekmrkenc and read back by vekmrkdec.
#include <gtest/gtest.h>

#include <regex>

#include "common/packet.h"
#include "tests/decoder/scratch_dir.h"
#include "tests/support/run_program.h"
#include "tests/support/wav_fixture.h"

namespace {

const fixture::EnvChanges kNoOwner = {{"VEKMRK_OWNER", std::nullopt}};

fixture::EnvChanges owner(const std::string& name) { return {{"VEKMRK_OWNER", name}}; }

struct Decoded {
    int exit_code = -1;
    int packets = -1;                    // the closing line's count
    std::vector<std::string> entries;    // the summary's entry lines, without line feeds
    std::vector<std::string> payloads;   // payload of each per-packet console line
    std::vector<int> time_stamps;        // time stamp of each per-packet line, -1 none
    std::vector<int> report_seconds;     // seconds of audio read when each line was printed
};

// Encodes `input` into `output`; returns the encoder's packet count, -1 on failure.
int encode(const std::vector<std::string>& options, const std::string& input, const std::string& payload,
           const std::string& output, const fixture::EnvChanges& env = kNoOwner) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {input, payload, output});
    const auto r = fixture::run_program(VEKMRKENC_PATH, args, env);
    std::smatch m;
    if (r.exit_code != 0 || !std::regex_search(r.out, m, std::regex(R"(-> (\d+) packets encoded)"))) return -1;
    return std::stoi(m[1].str());
}

// Runs the decoder and takes its console and closing report apart. `seconds_per_figure`
// turns the progress figure printed before a packet line back into seconds of audio.
Decoded decode(const std::vector<std::string>& options, const std::string& input,
               const fixture::EnvChanges& env = kNoOwner, double whole_seconds = 1.0) {
    std::vector<std::string> args = options;
    args.push_back(input);
    const auto r = fixture::run_program(VEKMRKDEC_PATH, args, env);
    Decoded d;
    d.exit_code = r.exit_code;
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex(R"(-> (\d+) packet\(s\) decoded at an average of \d+\.\dx\n$)"))) {
        d.packets = std::stoi(m[1].str());
    }
    static const std::regex entry(R"(\(x[0-9A-F]+\) - \d+ instance\(s\)( - \(T \d+:\d\d\) through \(T \d+:\d\d\))?)");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), entry); it != std::sregex_iterator(); ++it) {
        d.entries.push_back(it->str());
    }
    // Console: figures "\b\b\b\bNNN%"; a packet line erases the figure and stands alone.
    static const std::regex token(R"(\x08{4}(\d{3})%|\x08{4}|\n?x([0-9A-F]+)(?: \(T (\d+):(\d\d)\))?\n)");
    int figure = 0;
    for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), token); it != std::sregex_iterator(); ++it) {
        const std::smatch& t = *it;
        if (t[1].matched) {
            figure = std::stoi(t[1].str());
        } else if (t[2].matched) {
            d.payloads.push_back(t[2].str());
            d.time_stamps.push_back(t[3].matched ? std::stoi(t[3].str()) * 4 + std::stoi(t[4].str()) / 15 : -1);
            d.report_seconds.push_back(static_cast<int>(figure * whole_seconds / 100.0 + 0.5) + 1);
        }
    }
    return d;
}

std::string write_audio(const ScratchDir& dir, const std::string& name, int32_t rate, int32_t channels,
                        double seconds, fixture::Signal signal, uint32_t seed = 1) {
    const std::string path = write_generated(dir, name, rate, channels, seconds, signal, seed);
    EXPECT_FALSE(path.empty());
    return path;
}

// The summary holds exactly the payload, counted as often as it was printed.
void expect_only(const Decoded& d, const std::string& payload) {
    EXPECT_EQ(d.exit_code, 0);
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(d.entries[0].rfind("(x" + payload + ") - " + std::to_string(d.packets) + " instance(s)", 0), 0u)
        << d.entries[0];
    EXPECT_EQ(static_cast<int>(d.payloads.size()), d.packets);
    for (const std::string& p : d.payloads) EXPECT_EQ(p, payload);
}

void expect_nothing(const Decoded& d) {
    EXPECT_EQ(d.exit_code, 0);
    EXPECT_EQ(d.packets, 0);
    EXPECT_TRUE(d.entries.empty());
    EXPECT_TRUE(d.payloads.empty());
}

TEST(RoundTrip, PayloadFoundAtEveryEncoderRateMonoAndStereo) {
    ScratchDir dir;
    const struct { int32_t rate, channels; fixture::Signal signal; } cases[] = {
        {22050, 1, fixture::Signal::Noise}, {24000, 2, fixture::Signal::Music},
        {32000, 1, fixture::Signal::Music}, {44100, 2, fixture::Signal::Music},
        {48000, 1, fixture::Signal::Noise}, {44100, 1, fixture::Signal::Noise},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " channel(s)");
        const std::string input = write_audio(dir, "in.wav", c.rate, c.channels, 20.0, c.signal);
        const std::string marked = dir.file("marked.wav");
        const int written = encode({}, input, "0123ABCD", marked);
        ASSERT_EQ(written, 9 * c.channels);  // 0.8 s lead-in, then a packet every 2.16 s
        const Decoded d = decode({}, marked);
        expect_only(d, "0123ABCD");
        // Of the 9 packets begun per channel the last is cut off by the end of the file, and
        // the first may pass before a chip track has locked on.
        EXPECT_GE(d.packets, 7 * c.channels);
        EXPECT_LE(d.packets, 8 * c.channels);
    }
}

TEST(RoundTrip, TimeStampsMatchWhereThePacketsWereWritten) {
    ScratchDir dir;
    const double seconds = 40.0;
    const std::string input = write_audio(dir, "in.wav", 22050, 1, seconds, fixture::Signal::Music, 3);
    const std::string marked = dir.file("marked.wav");
    ASSERT_GT(encode({"-addts", "1"}, input, "BEEF", marked), 0);
    const Decoded d = decode({}, marked, kNoOwner, seconds);
    expect_only(d, "BEEF");
    ASSERT_GE(d.packets, 12);
    int stamped = 0;
    int first = -1;
    int previous = -1;
    for (size_t i = 0; i < d.time_stamps.size(); ++i) {
        const int t = d.time_stamps[i];
        if (t < 0) continue;  // an averaged time stamp may be unreliable
        ++stamped;
        if (first < 0) first = t;
        SCOPED_TRACE("packet " + std::to_string(i) + " at (T " + std::to_string(t) + ")");
        EXPECT_GE(t, previous);
        previous = t;
        // The packet ended within 7.5 s of t quarter minutes and was printed after it ended,
        // at most two packets and a frame later.
        EXPECT_GE(d.report_seconds[i], t * 15.0 - 7.5);
        EXPECT_LE(d.report_seconds[i], t * 15.0 + 7.5 + 6.0);
    }
    // After the stamp changes, the next bodies are read from averages of old and new stamps,
    // whose weak pairs drop the stamp for a few packets; but most packets carry one.
    EXPECT_GE(stamped, d.packets / 2);
    // Packets of 2 s after a 0.8 s lead-in: the last one read ends at 36.8 s, (T 00:30).
    EXPECT_EQ(first, 0);
    EXPECT_EQ(previous, 2);
    EXPECT_NE(d.entries[0].find(" - (T 00:00) through (T 00:30)"), std::string::npos) << d.entries[0];
}

TEST(RoundTrip, PrivateMarkIsReadOnlyWithItsOwnersLayer) {
    ScratchDir dir;
    const std::string input = write_audio(dir, "in.wav", 24000, 1, 20.0, fixture::Signal::Music, 5);
    const std::string marked = dir.file("private.wav");
    ASSERT_GT(encode({"-layer", "private"}, input, "0A1B", marked, owner("Alice")), 0);
    {
        SCOPED_TRACE("-layer private, same owner name");
        const Decoded d = decode({"-layer", "private"}, marked, owner("Alice"));
        expect_only(d, "0A1B");
        EXPECT_GE(d.packets, 6);
    }
    {
        SCOPED_TRACE("-layer Alice, no owner name here");
        const Decoded d = decode({"-layer", "Alice"}, marked, kNoOwner);
        expect_only(d, "0A1B");
        EXPECT_GE(d.packets, 6);
    }
    for (const auto& [options, env] : std::vector<std::pair<std::vector<std::string>, fixture::EnvChanges>>{
             {{}, owner("Alice")}, {{"-layer", "public"}, owner("Alice")}, {{"-layer", "Bob"}, owner("Alice")},
             {{"-layer", "private"}, owner("Bob")}, {{"-layer", "alice"}, kNoOwner}}) {
        SCOPED_TRACE(options.empty() ? "default layer" : options[1]);
        expect_nothing(decode(options, marked, env));
    }
}

TEST(RoundTrip, PublicMarkIsNotReadOnAPrivateLayer) {
    ScratchDir dir;
    const std::string input = write_audio(dir, "in.wav", 22050, 1, 20.0, fixture::Signal::Noise, 6);
    const std::string marked = dir.file("public.wav");
    ASSERT_GT(encode({}, input, "CAFEBABE", marked), 0);
    expect_nothing(decode({"-layer", "private"}, marked, owner("Alice")));
    expect_nothing(decode({"-layer", "Alice"}, marked));
    expect_only(decode({"-layer", "public"}, marked), "CAFEBABE");
}

TEST(RoundTrip, UnmarkedAudioGivesAnEmptySummary) {
    ScratchDir dir;
    const std::string input = write_audio(dir, "music.wav", 44100, 2, 20.0, fixture::Signal::Music, 7);
    expect_nothing(decode({}, input));
    expect_nothing(decode({"-layer", "private"}, input, owner("Alice")));
}

// The lead-in ends "111" right before the sync "000111000111": read from three chips early
// this is an exact sync of the opposite polarity. Payloads whose check value's last digit
// has its weight-2 bit set (0123ABCD, check B74E) would otherwise lock every track three
// chips off; the others would lose the first packet of every track.
TEST(RoundTrip, LeadInDoesNotCostPacketsForEitherKindOfCheckValue) {
    ScratchDir dir;
    const std::string input = write_audio(dir, "noise.wav", 22050, 1, 20.0, fixture::Signal::Noise, 8);
    int weight_two_set = 0;
    int weight_two_clear = 0;
    for (const std::string payload : {"0123ABCD", "0A1B", "00FF", "7E"}) {
        const int last = static_cast<int>(kHexDigits.find(check_digits(payload, 0)[3]));
        ((last & 2) ? weight_two_set : weight_two_clear)++;
        for (const std::string gain : {"1", "2"}) {
            SCOPED_TRACE(payload + " at gain " + gain);
            const std::string marked = dir.file("marked.wav");
            const int written = encode({"-gain", gain}, input, payload, marked);
            ASSERT_GT(written, 0);
            const Decoded d = decode({}, marked);
            expect_only(d, payload);
            EXPECT_GE(d.packets, written - 2);
        }
    }
    EXPECT_GT(weight_two_set, 0);
    EXPECT_GT(weight_two_clear, 0);
}

}  // namespace
