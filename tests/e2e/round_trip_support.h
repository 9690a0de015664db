#pragma once
// Round trips through the real programs: run vekmrkenc and vekmrkdec on generated audio and take
// their output apart. VEKMRKENC_PATH and VEKMRKDEC_PATH name the programs.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/wav_fixture.h"

namespace e2e {

inline const fixture::EnvChanges kNoOwner = {{"VEKMRK_OWNER", std::nullopt}};

inline fixture::EnvChanges owner(const std::string& name) {
    return {{"VEKMRK_OWNER", name}};
}

struct Decoded {
    int exit_code = -1;
    int packets = -1;                  // the closing line's count
    std::vector<std::string> entries;  // the summary's entry lines, without line feeds
    std::vector<std::string> payloads; // payload of each per-packet console line
    std::vector<int> time_stamps;      // time stamp of each per-packet line, -1 none
    std::vector<int> report_seconds;   // seconds of audio read when each line was printed
};

// Encodes `input` into `output`; returns the encoder's packet count, -1 on failure.
inline int encode(const std::vector<std::string>& options, const std::string& input,
                  const std::string& payload, const std::string& output,
                  const fixture::EnvChanges& env = kNoOwner) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {input, payload, output});
    const auto r = fixture::run_program(VEKMRKENC_PATH, args, env);
    std::smatch m;
    if (r.exit_code != 0 || !std::regex_search(r.out, m, std::regex(R"(-> (\d+) packets encoded)")))
        return -1;
    return std::stoi(m[1].str());
}

// Runs the decoder and takes its console and closing report apart. `whole_seconds` turns the
// progress figure printed before a packet line back into seconds of audio.
inline Decoded decode(const std::vector<std::string>& options, const std::string& input,
                      const fixture::EnvChanges& env = kNoOwner, double whole_seconds = 1.0) {
    std::vector<std::string> args = options;
    args.push_back(input);
    args.push_back("-S"); // the progress figure, which tells when each packet was reported
    const auto r = fixture::run_program(VEKMRKDEC_PATH, args, env);
    Decoded d;
    d.exit_code = r.exit_code;
    std::smatch m;
    if (std::regex_search(
            r.out, m, std::regex(R"(-> (\d+) packet\(s\) decoded at an average of \d+\.\dx\n$)"))) {
        d.packets = std::stoi(m[1].str());
    }
    static const std::regex entry(
        R"(\(x[0-9A-F]+\) - \d+ instance\(s\)( - \(T \d+:\d\d\) through \(T \d+:\d\d\))?)");
    for (auto it = std::sregex_iterator(r.out.begin(), r.out.end(), entry);
         it != std::sregex_iterator(); ++it) {
        d.entries.push_back(it->str());
    }
    // Console: figures "\b\b\b\bNNN%"; a packet line erases the figure and stands alone.
    static const std::regex token(
        R"(\x08{4}(\d{3})%|\x08{4}|\n?x([0-9A-F]+)(?: \(T (\d+):(\d\d)\))?\n)");
    int figure = 0;
    for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), token);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& t = *it;
        if (t[1].matched) {
            figure = std::stoi(t[1].str());
        } else if (t[2].matched) {
            d.payloads.push_back(t[2].str());
            d.time_stamps.push_back(
                t[3].matched ? std::stoi(t[3].str()) * 4 + std::stoi(t[4].str()) / 15 : -1);
            d.report_seconds.push_back(static_cast<int>(figure * whole_seconds / 100.0 + 0.5) + 1);
        }
    }
    return d;
}

inline std::string write_audio(const fixture::TempDir& dir, const std::string& name, int32_t rate,
                               int32_t channels, double seconds, fixture::Signal signal,
                               uint32_t seed = 1) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(
        fixture::write_wav(path, fixture::settings(rate, channels, seconds, signal, 0.3, seed)));
    return path;
}

// The summary holds exactly the payload, counted as often as it was printed.
inline void expect_only(const Decoded& d, const std::string& payload) {
    EXPECT_EQ(d.exit_code, 0);
    ASSERT_EQ(d.entries.size(), 1u);
    EXPECT_EQ(
        d.entries[0].rfind("(x" + payload + ") - " + std::to_string(d.packets) + " instance(s)", 0),
        0u)
        << d.entries[0];
    EXPECT_EQ(static_cast<int>(d.payloads.size()), d.packets);
    for (const std::string& p : d.payloads)
        EXPECT_EQ(p, payload);
}

inline void expect_nothing(const Decoded& d) {
    EXPECT_EQ(d.exit_code, 0);
    EXPECT_EQ(d.packets, 0);
    EXPECT_TRUE(d.entries.empty());
    EXPECT_TRUE(d.payloads.empty());
}

} // namespace e2e
