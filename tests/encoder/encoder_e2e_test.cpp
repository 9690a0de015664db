// Runs the built vekmrkenc on generated WAV files and on the conformance vectors, and checks
// what it writes: output bytes, exit codes, console text, the progress log, and that failures
// leave no output behind and keep an existing file intact.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/owner_name.h"
#include "common/program.h"
#include "encoder/config.h"
#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/sha256.h"
#include "tests/support/wav_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VEKMRKENC_PATH;
const std::string kVectors = std::string(VEKMRK_TEST_DATA_DIR) + "/vectors";
const std::string kBanner = program_banner(Program::Encoder);

std::string usage(const std::string& program) {
    return program_usage(Program::Encoder, program, encoder_help_text());
}

class EncoderProgram : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return dir_.file(name); }

    std::string make_wav(const std::string& name, double seconds, int32_t rate = 44100,
                         int32_t channels = 1, fixture::Signal signal = fixture::Signal::Music) {
        fixture::WavSpec spec;
        spec.seconds = seconds;
        spec.rate = rate;
        spec.channels = channels;
        spec.signal = signal;
        const std::string file = path(name);
        EXPECT_TRUE(fixture::write_wav(file, spec));
        return file;
    }

    // Runs the encoder with no owner name in its environment unless one is given.
    static fixture::ProgramResult encode(const std::vector<std::string>& args,
                                         std::optional<std::string> owner = std::nullopt) {
        return fixture::run_program(kProgram, args, {{kOwnerEnvVar, std::move(owner)}});
    }

    // The names in the work folder, sorted.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fixture::TempDir dir_;
};

// --- Conformance vectors ------------------------------------------------------------------

std::map<std::string, std::string> recorded_checksums() {
    std::map<std::string, std::string> sums;
    std::istringstream lines(fixture::read_file(kVectors + "/SHA256SUMS"));
    std::string sum, name;
    while (lines >> sum >> name)
        sums[name] = sum;
    return sums;
}

struct Vector {
    std::vector<std::string> options;
    std::string input;
    std::string payload;
    std::string output;
    std::optional<std::string> owner;
    std::string padded_payload;
    int packets;
    const char* clipping; // the attenuation message, or nullptr
};

const Vector kVectorCases[] = {
    {{}, "in1_44100_mono.wav", "0123ABCD", "out1.wav", std::nullopt, "0123ABCD", 6, nullptr},
    {{"-layer", "private", "-gain", "2", "-addts", "1"},
     "in2_48000_mono.wav",
     "0A1B",
     "out2.wav",
     "VekTestOwner",
     "0A1B",
     6,
     nullptr},
    {{"-rawbr", "45", "-gain", "0.7"},
     "in3_22050_stereo.wav",
     "1A2",
     "out3.wav",
     std::nullopt,
     "1A20",
     14,
     nullptr},
    {{},
     "in4_32000_stereo_loud.wav",
     "CAFEBABE",
     "out4.wav",
     std::nullopt,
     "CAFEBABE",
     4,
     "-> Potential clipping detected; 0.52 attenuation applied to the output.\n"},
};

TEST_F(EncoderProgram, ReproducesTheConformanceVectors) {
    const std::map<std::string, std::string> sums = recorded_checksums();
    ASSERT_EQ(sums.size(), 8u);
    for (const Vector& v : kVectorCases) {
        SCOPED_TRACE(v.output);
        std::vector<std::string> args = v.options;
        const std::string input = kVectors + "/" + v.input;
        const std::string output = path(v.output);
        args.insert(args.end(), {input, v.payload, output});
        const fixture::ProgramResult run = encode(args, v.owner);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(fixture::sha256_file(output), sums.at(v.output));

        const std::string job =
            "\"" + input + "\" + (" + v.padded_payload + ") => \"" + output + "\"\n";
        const std::string summary =
            "-> " + std::to_string(v.packets) + " packets encoded at an average of ";
        EXPECT_EQ(run.out.substr(0, job.size() + summary.size()), job + summary);
        // No progress figure: standard error is not a terminal.
        const std::string writing = "Writing audio output to disk...\n";
        EXPECT_TRUE(
            run.err.starts_with(kBanner + writing + (v.clipping != nullptr ? v.clipping : "")))
            << run.err;
    }
}

TEST_F(EncoderProgram, FindsTheOwnerNameBesideTheProgramOrInItsEtcFolder) {
    // A copy of the program with vekmrk-owner.txt beside it, or in <bin>/../etc/vekmrk as in an
    // installed tree, writes vector 2 without the environment variable; the file's line ending
    // is not part of the name.
    const struct {
        const char* program_folder;
        const char* owner_file_folder;
    } places[] = {{"tree1/bin", "tree1/bin"}, {"tree2/bin", "tree2/etc/vekmrk"}};
    for (const auto& place : places) {
        SCOPED_TRACE(place.owner_file_folder);
        const std::string bin = path(place.program_folder);
        fs::create_directories(bin);
        fs::create_directories(path(place.owner_file_folder));
        const std::string program = bin + "/vekmrkenc";
        fs::copy_file(kProgram, program);
        ASSERT_TRUE(fixture::write_file(path(place.owner_file_folder) + "/" + kOwnerFileName,
                                        "VekTestOwner\r\n"));
        const std::string output = path("out2.wav");
        const fixture::ProgramResult run =
            fixture::run_program(program,
                                 {"-layer", "private", "-gain", "2", "-addts", "1",
                                  kVectors + "/in2_48000_mono.wav", "0A1B", output},
                                 {{kOwnerEnvVar, std::nullopt}});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(fixture::sha256_file(output), recorded_checksums().at("out2.wav"));
    }
}

// --- Command line -------------------------------------------------------------------------

TEST_F(EncoderProgram, PrintsUsageForTooFewArguments) {
    const std::vector<std::vector<std::string>> cases = {{}, {"in.wav"}, {"in.wav", "AB"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size());
        const fixture::ProgramResult run = encode(args);
        EXPECT_EQ(run.exit_code, 1);
        if (args.empty())
            EXPECT_EQ(run.err, kBanner + usage(kProgram));
        else
            EXPECT_NE(
                run.err.find("three file arguments, <infile> <hexPayload> <outfile> wanted, " +
                             std::to_string(args.size()) + " given"),
                std::string::npos)
                << run.err;
        EXPECT_EQ(run.out, "");
    }
    // Help on request, on standard output, and the version.
    for (const char* word : {"-h", "--help"}) {
        const fixture::ProgramResult run = encode({word});
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out, kBanner + usage(kProgram));
        EXPECT_EQ(run.err, "");
    }
    const fixture::ProgramResult version = encode({"--version", "in.wav", "AB", path("o.wav")});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, kBanner);
    EXPECT_FALSE(fs::exists(path("o.wav")));
}

TEST_F(EncoderProgram, RefusesALogFileThatWouldOverwriteAFile) {
    const std::string input = make_wav("in.wav", 1.0);
    const std::string before = fixture::sha256_file(input);
    const std::string output = path("out.wav");

    // "-logfile" with the input path as its value leaves two file arguments.
    fixture::ProgramResult run = encode({"-gain", "2", "-logfile", input, "AB", output});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find("wanted, 2 given"), std::string::npos) << run.err;

    const std::vector<std::pair<std::string, std::string>> named = {
        {input, "input"}, {dir_.file("./in.wav"), "input"}, {output, "output"}};
    for (const auto& [log, which] : named) {
        SCOPED_TRACE(log);
        run = encode({"-logfile", log, input, "AB", output});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.err, kBanner + "The log file " + log + " is the " + which +
                               " file: choose another log file.\n");
    }
    EXPECT_EQ(fixture::sha256_file(input), before);
    EXPECT_EQ(listing(), std::vector<std::string>{"in.wav"});
}

TEST_F(EncoderProgram, ChecksThePayload) {
    const std::string input = make_wav("in.wav", 1.0);
    const std::string output = path("out.wav");
    const std::string log = path("log.txt");
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"12G4", "The payload is not hexadecimal: use only the digits 0-9 and A-F."},
        {"", "The payload is empty: give 1 to 98 hexadecimal digits (0-9, A-F)."},
        {std::string(99, 'A'), "The payload has 99 digits: at most 98 hexadecimal digits fit."},
    };
    for (const auto& [payload, message] : refused) {
        SCOPED_TRACE(payload);
        const fixture::ProgramResult run = encode({"-logfile", log, input, payload, output});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.err, kBanner + message + "\n");
        EXPECT_EQ(fixture::read_file(log), "  -1\r\n" + message + "\r\n");
        EXPECT_FALSE(fs::exists(output));
    }
    // Lower-case digits are taken as upper-case, and an odd count is padded.
    const fixture::ProgramResult run = encode({input, "1a2", output});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1),
              "\"" + input + "\" + (1A20) => \"" + output + "\"\n");
}

TEST_F(EncoderProgram, LogFileOptionNeverReachesTheConfiguration) {
    const std::string input = make_wav("in.wav", 1.0);
    // A private layer without an owner name fails with the configuration shown.
    const fixture::ProgramResult run = encode({"-gain", "2", "-logfile", path("log.txt"), "-layer",
                                               "private", input, "AB", path("o.wav")});
    EXPECT_EQ(run.exit_code, 4);
    EXPECT_TRUE(run.err.starts_with(kBanner + "Failure to configure the encoder for channel# 0 "
                                              "with:\n\t -gain 2 -layer private\n"))
        << run.err;
    EXPECT_TRUE(fixture::read_file(path("log.txt"))
                    .starts_with("  -4\r\nFailure to configure the encoder\r\n"));
}

// --- A normal run -------------------------------------------------------------------------

TEST_F(EncoderProgram, ReportsProgressOnTheConsoleAndInTheLog) {
    // 6 s: figures after each second (-S: standard error is not a terminal) and a last one
    // from the empty pass, which stops at 100.
    const std::string input = make_wav("in.wav", 6.0);
    const std::string output = path("out.wav");
    const std::string log = path("log.txt");
    const fixture::ProgramResult run = encode({"-logfile", log, input, "0123ABCD", output, "-S"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, kBanner + "000%\b\b\b\b016%\b\b\b\b033%\b\b\b\b050%\b\b\b\b066%"
                                 "\b\b\b\b083%\b\b\b\b100%\b\b\b\b100%"
                                 "\nWriting audio output to disk...\n");
    // 0123ABCD: after the 0.8 s lead-in, packets of 2.16 s follow: 3 begin in 6 s.
    const std::regex summary(R"(-> 3 packets encoded at an average of \d+\.\dx\n)");
    const std::string job = "\"" + input + "\" + (0123ABCD) => \"" + output + "\"\n";
    ASSERT_EQ(run.out.substr(0, job.size()), job);
    EXPECT_TRUE(std::regex_match(run.out.substr(job.size()), summary)) << run.out;
    const std::regex report("1000\r\n3 packets encoded at an average of \\d+\\.\\dx\r\n"
                            "A watermarked file named: " +
                            output + " was created\\.\r\n");
    EXPECT_TRUE(std::regex_match(fixture::read_file(log), report)) << fixture::read_file(log);

    const std::optional<fixture::WavData> in = fixture::read_wav(input);
    const std::optional<fixture::WavData> out = fixture::read_wav(output);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->rate, 44100);
    EXPECT_EQ(out->channels, 1);
    EXPECT_EQ(out->samples.size(), in->samples.size());
    EXPECT_NE(out->samples, in->samples);
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.wav", "log.txt", "out.wav"}));
}

TEST_F(EncoderProgram, ShortInputsShowOneHundredPercent) {
    const std::pair<double, std::string> cases[] = {{0.5, "short.wav"}, {0.0, "empty.wav"}};
    for (const auto& [seconds, name] : cases) {
        SCOPED_TRACE(name);
        const std::string input = seconds > 0 ? make_wav(name, seconds) : path(name);
        if (seconds == 0) {
            ASSERT_TRUE(fixture::write_wav(input, fixture::WavData{1, 44100, {}}));
        }
        const std::string output = path("marked-" + name);
        const fixture::ProgramResult run = encode({"-S", input, "AB", output});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(
            run.err.starts_with(kBanner + "000%\b\b\b\b100%\nWriting audio output to disk...\n"))
            << run.err;
        // Exit 0, but no reader could find the mark.
        EXPECT_NE(run.err.find("Warning: the input lasts"), std::string::npos) << run.err;
        const std::optional<fixture::WavData> out = fixture::read_wav(output);
        ASSERT_TRUE(out);
        EXPECT_EQ(out->frames(), static_cast<int32_t>(seconds * 44100));
    }
}

TEST_F(EncoderProgram, StereoCountsTwiceTheMonoPackets) {
    const std::string mono = make_wav("mono.wav", 5.0, 44100, 1);
    const std::string stereo = make_wav("stereo.wav", 5.0, 44100, 2);
    const fixture::ProgramResult one = encode({mono, "0123ABCD", path("m.wav")});
    const fixture::ProgramResult two = encode({stereo, "0123ABCD", path("s.wav")});
    ASSERT_EQ(one.exit_code, 0);
    ASSERT_EQ(two.exit_code, 0);
    EXPECT_NE(one.out.find("-> 2 packets encoded"), std::string::npos) << one.out;
    EXPECT_NE(two.out.find("-> 4 packets encoded"), std::string::npos) << two.out;
}

TEST_F(EncoderProgram, ReplacesAnExistingOutputAndKeepsLinks) {
    const std::string input = make_wav("in.wav", 1.0);
    const std::string target = path("real.wav");
    ASSERT_TRUE(fixture::write_file(target, "old"));
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, path("link.wav"));
    const fixture::ProgramResult run = encode({input, "AB", path("link.wav")});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(fs::is_symlink(path("link.wav")));
    EXPECT_TRUE(fixture::read_wav(target));
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.wav", "link.wav", "real.wav"}));
}

TEST_F(EncoderProgram, StandardInputAndOutputGiveTheSameBytesAndTheTagsSurvive) {
    // A LIST/INFO title after the audio, as tag editors append it.
    const std::string plain = make_wav("plain.wav", 6.0);
    std::string bytes = fixture::read_file(plain);
    const std::string title("LIST\x12\0\0\0INFOINAM\x06\0\0\0Title\0", 26);
    bytes.insert(bytes.end(), title.begin(), title.end());
    const uint32_t riff = static_cast<uint32_t>(bytes.size() - 8);
    for (int i = 0; i < 4; ++i)
        bytes[4 + static_cast<size_t>(i)] = static_cast<char>((riff >> (8 * i)) & 0xFFu);
    const std::string input = path("in.wav");
    ASSERT_TRUE(fixture::write_file(input, bytes));

    const fixture::ProgramResult file = encode({input, "0123ABCD", path("file.wav")});
    ASSERT_EQ(file.exit_code, 0) << file.err;
    const std::string written = fixture::read_file(path("file.wav"));
    EXPECT_NE(written.find(title), std::string::npos);

    const fixture::ProgramResult piped =
        fixture::run_program("/bin/sh", {"-c", "exec \"$0\" - 0123ABCD - < \"$1\" > \"$2\"",
                                         kProgram, input, path("piped.wav")});
    ASSERT_EQ(piped.exit_code, 0) << piped.err;
    EXPECT_EQ(fixture::read_file(path("piped.wav")), written);
    // The result lines make way for the audio on standard output.
    EXPECT_NE(piped.err.find("\"-\" + (0123ABCD) => \"-\"\n"), std::string::npos) << piped.err;
    EXPECT_NE(piped.err.find("-> 3 packets encoded"), std::string::npos) << piped.err;
}

// Runs that succeed but whose output carries no readable mark say so, on the console and in the
// log; -verify counts what the decoder's own code finds.
TEST_F(EncoderProgram, WarnsWhenTheMarkCannotBeReadBackAndVerifiesOnRequest) {
    const std::string music = make_wav("music.wav", 8.0);
    const std::string silence = make_wav("silence.wav", 8.0, 44100, 1, fixture::Signal::Silence);
    const std::string log = path("log.txt");
    const struct {
        std::vector<std::string> args;
        const char* warning; // "" for none
    } cases[] = {
        {{music, "0123ABCD"}, ""},
        {{silence, "0123ABCD"}, "the input is silent"},
        {{"-gain", "0", music, "0123ABCD"}, "gain 0 adds no mark"},
        {{music, std::string(40, 'A')}, "the input lasts 8.0 s, shorter than the 15.4 s"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.warning);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {path("out.wav"), "-logfile", log});
        const fixture::ProgramResult run = encode(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string logged = fixture::read_file(log);
        if (*c.warning == '\0') {
            EXPECT_EQ(run.err.find("Warning"), std::string::npos) << run.err;
            EXPECT_EQ(logged.find("Warning"), std::string::npos) << logged;
        } else {
            EXPECT_NE(run.err.find(std::string("Warning: ") + c.warning), std::string::npos)
                << run.err;
            EXPECT_NE(logged.find(std::string("\r\nWarning: ") + c.warning), std::string::npos)
                << logged;
        }
    }
    const fixture::ProgramResult verified = encode({"-verify", music, "0123ABCD", path("v.wav")});
    ASSERT_EQ(verified.exit_code, 0) << verified.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(verified.out, m,
                                  std::regex(R"(-> (\d+) packets encoded.*\n-> (\d+) of (\d+) )"
                                             R"(packets readable\n$)")))
        << verified.out;
    EXPECT_EQ(m[3].str(), m[1].str()); // M: the packets written
    EXPECT_GE(std::stoi(m[2].str()), 1);
    EXPECT_LT(std::stoi(m[2].str()), std::stoi(m[3].str()));
}

// --- Failures -----------------------------------------------------------------------------

// Every refusal says what is wrong and what would be right, the same on the console and in the
// log, with its exit code, and leaves no output behind.
TEST_F(EncoderProgram, FailuresExitWithTheirCodeAndLeaveOutputsAlone) {
    const std::string good = make_wav("in.wav", 1.0);
    const std::string low_rate = make_wav("in16k.wav", 1.0, 16000);
    const std::string high_rate = make_wav("in96k.wav", 1.0, 96000);
    const std::string not_wav = path("text.wav");
    ASSERT_TRUE(fixture::write_file(not_wav, "hello"));
    const std::string empty = path("empty.wav");
    ASSERT_TRUE(fixture::write_file(empty, ""));
    // A 24-bit header: format tag 1, one channel, 44100 Hz, 24 bits per sample.
    const std::string deep = path("24bit.wav");
    ASSERT_TRUE(fixture::write_file(deep, std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0"
                                                      "\x44\xAC\0\0\xCC\x04\x02\0\x03\0\x18\0"
                                                      "data\0\0\0\0",
                                                      44)));
    fs::create_directory(path("folder"));
    const std::string missing = path("missing.wav");
    const std::string output = path("out.wav");
    const std::string log = path("log.txt");

    struct Case {
        std::vector<std::string> options;
        std::string input;
        std::optional<std::string> owner;
        int exit_code;
        std::string words; // on the console after the banner, and in the log's message
    };
    const std::vector<Case> cases = {
        {{}, missing, {}, 10, "Failure to open " + missing + " for reading.\nNo such file"},
        {{}, not_wav, {}, 10, "Not a RIFF WAVE file"},
        {{}, empty, {}, 10, "The file is empty"},
        {{}, path("folder"), {}, 10, "It is a folder"},
        {{}, deep, {}, 10, "24-bit PCM is not supported: convert it with sox in.wav -b 16 out.wav"},
        {{}, low_rate, {}, 11, "16000 Hz; vekmrkenc reads 22050, 24000, 32000, 44100 and 48000 Hz"},
        {{}, high_rate, {}, 11, "96000 Hz;"},
        {{"-gian", "2"}, good, {}, 1, "-gian: unknown option; the options are -layer, -gain"},
        {{"--gain=2"}, good, {}, 1, "did you mean -gain 2?"},
        {{"-gain", "abc"}, good, {}, 4, "-gain abc: not a number; give a number from 0 to 10"},
        {{"-gain", "1e9"}, good, {}, 4, "-gain 1e9: out of range"},
        {{"-addts", "yes"}, good, {}, 4, "-addts yes: not allowed; use 0 or 1"},
        {{"-layer", "secret"}, good, {}, 4, "-layer secret: not allowed; use public or private"},
        {{"-rawbr", "3000"}, good, {}, 4, "-rawbr 3000: out of range"},
        {{"-layer", "private"}, good, {}, 4, owner_name_problem("")},
        {{"-layer", "private"}, good, "Vek Owner", 4, owner_name_problem("Vek Owner")},
        {{"-layer", "private", "-layer", "public", "-layer", "private"},
         good,
         "",
         4,
         owner_name_problem("")},
    };
    const std::string precious = "keep";
    for (const bool existing : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.words + (existing ? " (existing output)" : ""));
            std::error_code error;
            fs::remove(output, error);
            fs::remove(log, error);
            if (existing) {
                ASSERT_TRUE(fixture::write_file(output, precious));
            }
            std::vector<std::string> args = {"-logfile", log};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {c.input, "AB", output});
            const std::vector<std::string> before = listing();

            const fixture::ProgramResult run = encode(args, c.owner);
            EXPECT_EQ(run.exit_code, c.exit_code);
            EXPECT_TRUE(run.err.starts_with(kBanner)) << run.err;
            EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
            EXPECT_EQ(run.out, "");
            const std::string logged =
                std::regex_replace(fixture::read_file(log), std::regex("\r\n"), "\n");
            const std::string status =
                (c.exit_code < 10 ? "  -" : " -") + std::to_string(c.exit_code) + "\n";
            EXPECT_TRUE(logged.starts_with(status)) << logged;
            EXPECT_NE(logged.find(c.words), std::string::npos) << logged;
            if (existing) {
                EXPECT_EQ(fixture::read_file(output), precious);
            } else {
                EXPECT_FALSE(fs::exists(output));
            }
            std::vector<std::string> after = listing();
            std::erase(after, "log.txt");
            EXPECT_EQ(after, before);
        }
    }
    // The last "-layer" decides: a public layer needs no owner name.
    EXPECT_EQ(encode({"-layer", "private", "-layer", "public", good, "AB", output}).exit_code, 0);
    EXPECT_EQ(encode({"-layer", "private", good, "AB", output}, "Société").exit_code, 0);
}

TEST_F(EncoderProgram, RefusesAnOutputItCannotCreate) {
    const std::string input = make_wav("in.wav", 1.0);
    fs::create_directory(path("folder"));
    // The second line says why.
    const std::pair<std::string, std::string> cases[] = {
        {path("no/such/folder/out.wav"), "does not exist"}, {path("folder"), "is a folder"}};
    for (const auto& [output, reason] : cases) {
        SCOPED_TRACE(output);
        const std::string log = path("log.txt");
        const fixture::ProgramResult run = encode({"-logfile", log, input, "AB", output});
        EXPECT_EQ(run.exit_code, 20);
        EXPECT_TRUE(run.err.starts_with(kBanner + "Failure to open " + output + " for writing.\n"))
            << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(fixture::read_file(log),
                  " -20\r\nFailure to open " + output + " for writing.\r\n");
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"folder", "in.wav", "log.txt"}));
    EXPECT_TRUE(fs::is_empty(path("folder")));
}

TEST_F(EncoderProgram, NeverWritesOverItsInput) {
    const std::string input = make_wav("in.wav", 1.0);
    const std::string before = fixture::sha256_file(input);
    fs::create_directory(path("sub"));
    fs::create_hard_link(input, path("hard.wav"));
    fs::create_symlink(input, path("soft.wav"));
    const std::string cases[] = {input, path("sub/../in.wav"), path("hard.wav"), path("soft.wav")};
    for (const std::string& output : cases) {
        SCOPED_TRACE(output);
        const fixture::ProgramResult run = encode({input, "AB", output});
        EXPECT_EQ(run.exit_code, 20);
        EXPECT_EQ(run.err,
                  kBanner + "Failure to open " + output +
                      " for writing.\nThe output file is the input file: choose another name.\n");
        EXPECT_EQ(fixture::sha256_file(input), before);
    }
    EXPECT_EQ(listing(), (std::vector<std::string>{"hard.wav", "in.wav", "soft.wav", "sub"}));
}

TEST_F(EncoderProgram, AFailedWriteIsAFailure) {
    // A file size limit makes the output's writes fail as on a full disk (the program ignores
    // the signal that the limit sends, so the write fails instead of ending the program); the
    // output is written while the input is encoded, so the failure ends the frame loop.
    const std::string input = make_wav("in.wav", 2.0, 44100, 2);
    const std::string output = path("out.wav");
    const std::string log = path("log.txt");
    const std::string precious = "keep";
    ASSERT_TRUE(fixture::write_file(output, precious));
    const fixture::ProgramResult run =
        fixture::run_program("/bin/sh", {"-c", "ulimit -f 100 && exec \"$0\" \"$@\"", kProgram,
                                         "-logfile", log, input, "AB", output});
    EXPECT_EQ(run.exit_code, 20);
    EXPECT_TRUE(run.err.ends_with("\nFailure to write " + output + ".\n")) << run.err;
    EXPECT_EQ(run.out.find("packets encoded"), std::string::npos);
    EXPECT_EQ(fixture::read_file(log), " -20\r\nFailure to write " + output + ".\r\n");
    EXPECT_EQ(fixture::read_file(output), precious);
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.wav", "log.txt", "out.wav"}));
}

} // namespace
