// What vekmrkdec reports, kept identical whatever makes it faster. Generated inputs are marked
// by the real vekmrkenc and read back by the real vekmrkdec, with the best vector instructions
// the processor offers and with the portable ones only. The closing report on standard output
// (its speed figure aside) and the console's packet lines, each with the second of audio in
// which it was printed, must be those recorded from the plain implementation (one output at a
// time, plain loops). A change to what the detector finds updates the entries, counts and
// lines here. The marked files' checksums are recorded as well: when one differs, the
// generator or the encoder changed, not the decoder.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "common/simd.h"
#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/sha256.h"
#include "tests/support/wav_fixture.h"

namespace {

using fixture::EnvChanges;
using fixture::Signal;

const EnvChanges kNoOwner = {{"VEKMRK_OWNER", std::nullopt}};
const EnvChanges kAlice = {{"VEKMRK_OWNER", "Alice"}};

struct Reading {
    std::vector<std::string> options;
    EnvChanges env;
    const char* entries;      // the closing report's entry lines
    int packets;              // the closing report's count
    const char* packet_lines; // the console's packet lines, as packet_lines() gives them
};

struct MarkedCase {
    const char* name;
    fixture::WavSpec input;
    std::vector<std::string> encoder_options; // empty and no payload: the input stays unmarked
    EnvChanges encoder_env;
    std::string payload;
    const char* marked_sha256;
    std::vector<Reading> readings;
};

// Every decoder rate (the two halved ones included), mono, stereo and three channels, time
// stamps, a private layer read by its owner, by its layer code and not on the public layer,
// another chip rate, a chip no longer than the head correlation, weak marks that are found only
// now and then, and unmarked audio.
const std::vector<MarkedCase>& cases() {
    // clang-format off
    static const std::vector<MarkedCase> all = {
        {"44100 stereo music", fixture::settings(44100, 2, 20.0, Signal::Music), {}, kNoOwner, "0123ABCD",
         "b5dd4b08f556bdce1c03a7d4bacd517afee9ebfa9dd911857def6c6a062ab76f",
         {{{}, kNoOwner, "(x0123ABCD) - 16 instance(s)\n", 16,
           "4:x0123ABCD, 4:x0123ABCD, 6:x0123ABCD, 6:x0123ABCD, 8:x0123ABCD, 8:x0123ABCD, "
           "10:x0123ABCD, 10:x0123ABCD, 12:x0123ABCD, 12:x0123ABCD, 15:x0123ABCD, 15:x0123ABCD, "
           "17:x0123ABCD, 17:x0123ABCD, 19:x0123ABCD, 19:x0123ABCD"}}},
        {"48000 mono music, time stamps", fixture::settings(48000, 1, 20.0, Signal::Music, 0.3, 2),
         {"-addts", "1"}, kNoOwner, "BEEF",
         "de243d2de57930dc66766f681b48af36805c893cc69f96eeac9b4889fe90a41c",
         {{{}, kNoOwner, "(xBEEF) - 9 instance(s) - (T 00:00) through (T 00:15)\n", 9,
           "4:xBEEF (T 00:00), 6:xBEEF (T 00:00), 8:xBEEF (T 00:00), 10:xBEEF (T 00:15), "
           "12:xBEEF (T 00:15), 14:xBEEF (T 00:15), 16:xBEEF (T 00:15), 18:xBEEF (T 00:15), "
           "20:xBEEF (T 00:15)"}}},
        {"22050 stereo noise, private layer", fixture::settings(22050, 2, 16.0, Signal::Noise, 0.3, 3),
         {"-layer", "private"}, kAlice, "0A1B",
         "9e970ae16774e0f464fadcf522a8eb808385c6afaf103e5ebe5d45540e2e56fa",
         {{{"-layer", "private"}, kAlice, "(x0A1B) - 16 instance(s)\n", 16,
           "5:x0A1B, 5:x0A1B, 6:x0A1B, 6:x0A1B, 8:x0A1B, 8:x0A1B, 9:x0A1B, 9:x0A1B, 11:x0A1B, "
           "11:x0A1B, 12:x0A1B, 12:x0A1B, 14:x0A1B, 14:x0A1B, 15:x0A1B, 15:x0A1B"},
          {{"-layer", "Alice"}, kNoOwner, "(x0A1B) - 16 instance(s)\n", 16,
           "5:x0A1B, 5:x0A1B, 6:x0A1B, 6:x0A1B, 8:x0A1B, 8:x0A1B, 9:x0A1B, 9:x0A1B, 11:x0A1B, "
           "11:x0A1B, 12:x0A1B, 12:x0A1B, 14:x0A1B, 14:x0A1B, 15:x0A1B, 15:x0A1B"},
          {{}, kAlice, "", 0, ""}}},
        {"24000 mono music, weak mark", fixture::settings(24000, 1, 12.0, Signal::Music, 0.6, 4),
         {"-gain", "0.25"}, kNoOwner, "CAFEBABE",
         "4d2d360f0521b3bbd579977c5ce556ccdccaee5c2ea875ebd4b6a127d0f60eb6",
         {{{}, kNoOwner, "(xCAFEBABE) - 3 instance(s)\n", 3,
           "12:xCAFEBABE, 12:xCAFEBABE, 12:xCAFEBABE"}}},
        {"32000 stereo music, time stamps", fixture::settings(32000, 2, 12.0, Signal::Music, 0.3, 5),
         {"-addts", "1"}, kNoOwner, "D00D",
         "5941838b4c673e1623b98465d754b577d1f5859d59b12663f52aba70cd72c3c9",
         {{{}, kNoOwner, "(xD00D) - 10 instance(s) - (T 00:00) through (T 00:15)\n", 10,
           "4:xD00D (T 00:00), 4:xD00D (T 00:00), 6:xD00D (T 00:00), 6:xD00D (T 00:00), 8:xD00D (T 00:00), "
           "8:xD00D (T 00:00), 10:xD00D (T 00:15), 10:xD00D (T 00:15), 12:xD00D (T 00:15), "
           "12:xD00D (T 00:15)"}}},
        {"22050 mono noise, 45 chips per second", fixture::settings(22050, 1, 12.0, Signal::Noise, 0.3, 6),
         {"-rawbr", "45"}, kNoOwner, "1A20",
         "d141234037c8bfd4ba33b17e874cc3679f793ff5bb9dfd277923eed6de8e3c2d",
         {{{"-rawbr", "45"}, kNoOwner, "(x1A20) - 6 instance(s)\n", 6,
           "3:x1A20, 5:x1A20, 7:x1A20, 8:x1A20, 10:x1A20, 12:x1A20"},
          {{}, kNoOwner, "", 0, ""}}},
        {"44100 three channels music", fixture::settings(44100, 3, 10.0, Signal::Music, 0.3, 7), {}, kNoOwner,
         "ABCDEF", "68fd1540a6e65e0854974049627df516883ed4df9708abe47de7705576c95c0c",
         {{{}, kNoOwner, "(xABCDEF) - 12 instance(s)\n", 12,
           "3:xABCDEF, 3:xABCDEF, 3:xABCDEF, 5:xABCDEF, 5:xABCDEF, 5:xABCDEF, 7:xABCDEF, 7:xABCDEF, "
           "7:xABCDEF, 9:xABCDEF, 9:xABCDEF, 9:xABCDEF"}}},
        {"22050 mono noise, 175 chips per second", fixture::settings(22050, 1, 8.0, Signal::Noise, 0.3, 8),
         {"-rawbr", "175"}, kNoOwner, "77",
         "2166e83e21cced01ceddf15fab527777bf71c0fb469a1a9363fb368ee415f2a3",
         {{{"-rawbr", "175"}, kNoOwner, "(x77) - 21 instance(s)\n", 21,
           "2:x77, 2:x77, 2:x77, 3:x77, 3:x77, 3:x77, 4:x77, 4:x77, 4:x77, 5:x77, 5:x77, 5:x77, "
           "6:x77, 6:x77, 6:x77, 7:x77, 7:x77, 7:x77, 8:x77, 8:x77, 8:x77"}}},
        {"44100 stereo loud noise, weak mark", fixture::settings(44100, 2, 16.0, Signal::Noise, 0.8, 9),
         {"-gain", "0.3"}, kNoOwner, "0123ABCD",
         "a8d9e8856fbb5f9582f11b64912ed54485b6f0e6a1379be84ad413006a8006cb",
         {{{}, kNoOwner, "(x0123ABCD) - 11 instance(s)\n", 11,
           "6:x0123ABCD, 6:x0123ABCD, 8:x0123ABCD, 8:x0123ABCD, 8:x0123ABCD, 10:x0123ABCD, 10:x0123ABCD, "
           "12:x0123ABCD, 12:x0123ABCD, 15:x0123ABCD, 15:x0123ABCD"}}},
        {"11025 mono music, unmarked", fixture::settings(11025, 1, 6.0, Signal::Music, 0.3, 10), {}, kNoOwner,
         "", "ab118de9669f8a1b740a3b384ee98432ab51eae4986c0b22a21d47bd36a0758d",
         {{{}, kNoOwner, "", 0, ""}}},
        {"16000 stereo noise, unmarked", fixture::settings(16000, 2, 6.0, Signal::Noise, 0.3, 11), {}, kNoOwner,
         "", "a9f72cf80f2fa8f882eb5462ed93f940d07705eaaedcb926f014761f7bf3e303",
         {{{}, kNoOwner, "", 0, ""}}},
    };
    // clang-format on
    return all;
}

std::string report_without_speed(const std::string& out) {
    return std::regex_replace(out, std::regex(R"(average of \d+\.\dx\n$)"), "average of _x\n");
}

// The packet lines of a run's console in order, each after the number of the one-second frame
// in which it was printed ("3:x0123ABCD"), joined by ", ". Each frame ends with its progress
// figure, four backspaces and three digits.
std::string packet_lines(const std::string& err) {
    static const std::regex token(R"(\x08{4}\d{3}%|(x[0-9A-F]+(?: \(T \d+:\d\d\))?)\n)");
    int frame = 1;
    std::string lines;
    for (auto it = std::sregex_iterator(err.begin(), err.end(), token);
         it != std::sregex_iterator(); ++it) {
        if (!(*it)[1].matched) {
            ++frame;
            continue;
        }
        lines += (lines.empty() ? "" : ", ") + std::to_string(frame) + ":" + (*it)[1].str();
    }
    return lines;
}

TEST(DecoderIdentity, ReportsMatchWhatWasRecorded) {
    for (const MarkedCase& c : cases()) {
        SCOPED_TRACE(c.name);
        fixture::TempDir dir;
        const std::string plain = dir.file("plain.wav");
        const std::string marked = dir.file("marked.wav");
        ASSERT_TRUE(fixture::write_wav(c.payload.empty() ? marked : plain, c.input));
        if (!c.payload.empty()) {
            std::vector<std::string> args = c.encoder_options;
            args.insert(args.end(), {plain, c.payload, marked});
            const fixture::ProgramResult enc =
                fixture::run_program(VEKMRKENC_PATH, args, c.encoder_env);
            ASSERT_EQ(enc.exit_code, 0) << enc.err;
        }
        // A different file says nothing about the decoder: the generator or the encoder changed.
        ASSERT_EQ(fixture::sha256_file(marked), c.marked_sha256) << "the decoder's input changed";

        for (const Reading& r : c.readings) {
            for (const std::optional<std::string>& simd :
                 {std::optional<std::string>(), std::optional<std::string>("portable")}) {
                SCOPED_TRACE(
                    (r.options.empty() ? std::string("default layer")
                                       : r.options[0] + " " + r.options[1]) +
                    (simd ? ", portable vector instructions" : ", best vector instructions"));
                std::vector<std::string> args = r.options;
                // -S: the figure that tells the frames apart, also into a pipe.
                args.insert(args.end(), {"-S", "marked.wav"});
                EnvChanges env = r.env;
                env.emplace_back(kSimdEnvVar, simd);
                const fixture::ProgramResult dec =
                    fixture::run_program(VEKMRKDEC_PATH, args, env, dir.file(""));
                ASSERT_EQ(dec.exit_code, 0) << dec.err;
                EXPECT_EQ(report_without_speed(dec.out),
                          "\"marked.wav\"\n" + std::string(r.entries) + "-> " +
                              std::to_string(r.packets) +
                              " packet(s) decoded at an average of _x\n");
                EXPECT_EQ(packet_lines(dec.err), r.packet_lines);
            }
        }
    }
}

} // namespace
