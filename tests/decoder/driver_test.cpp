// vekmrkdec as a program: command line, exit codes, console messages, progress log and
// closing report, and what it reads from the conformance vectors.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "common/owner_name.h"
#include "common/program.h"
#include "decoder/config.h"
#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/wav_fixture.h"

namespace {

const std::string kProgram = VEKMRKDEC_PATH;
const std::string kVectors = VEKMRK_VECTORS_DIR;
const std::string kBanner = program_banner(Program::Decoder);
const fixture::EnvChanges kNoOwner = {{"VEKMRK_OWNER", std::nullopt}};

fixture::ProgramResult decode(const std::vector<std::string>& args,
                              const fixture::EnvChanges& env = kNoOwner) {
    return fixture::run_program(kProgram, args, env);
}

std::string usage() {
    return kBanner + program_usage(Program::Decoder, kProgram, decoder_help_text());
}

// The closing report without its speed figure: the quoted path, the entry lines and the
// packet count. Empty when standard output does not have that form.
std::string report_without_speed(const std::string& out) {
    static const std::regex closing(R"((-> \d+ packet\(s\) decoded at an average of )\d+\.\dx\n$)");
    std::smatch m;
    if (!std::regex_search(out, m, closing))
        return {};
    return out.substr(0, static_cast<size_t>(m.position(0))) + m[1].str();
}

std::string log_without_speed(const std::string& log) {
    return std::regex_replace(log, std::regex(R"(average of \d+\.\dx)"), "average of _x");
}

std::string write_input(const fixture::TempDir& dir, const std::string& name, int32_t rate,
                        int32_t channels, double seconds,
                        fixture::Signal signal = fixture::Signal::Noise) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(fixture::write_wav(path, fixture::settings(rate, channels, seconds, signal)));
    return path;
}

TEST(DecoderProgram, NoArgumentPrintsBannerAndUsage) {
    const auto r = decode({});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, usage());
    EXPECT_EQ(r.out, "");
}

TEST(DecoderProgram, LogfileFollowedByTheInputIsRefusedAndTheInputKept) {
    fixture::TempDir dir;
    const std::string input = write_input(dir, "in.wav", 22050, 1, 1.0);
    const std::string before = fixture::read_file(input);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-logfile", input},
                                               {"-layer", "public", "-logfile", input},
                                               {"-logfile", input, input}}) {
        SCOPED_TRACE(args.size());
        const auto r = decode(args);
        EXPECT_EQ(r.exit_code, 1);
        EXPECT_EQ(r.err.rfind(kBanner, 0), 0u);
        EXPECT_EQ(fixture::read_file(input), before);
    }
}

TEST(DecoderProgram, UnreadableInputExits10WithAnEmptyLineInTheLog) {
    fixture::TempDir dir;
    const std::string missing = dir.file("missing.wav");
    const std::string log = dir.file("log.txt");
    const auto r = decode({"-logfile", log, missing});
    EXPECT_EQ(r.exit_code, 10);
    EXPECT_EQ(r.err, kBanner + "Failure to open " + missing + " for reading.\nNo such file\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fixture::read_file(log),
              " -10\r\n   0 packet(s) decoded at an average of 0.0x\r\nFailure to open " + missing +
                  " for reading.\r\nNo such file\r\n\r\n");
}

TEST(DecoderProgram, UnsupportedRateExits11AndNamesTheRatesRead) {
    fixture::TempDir dir;
    const std::string input = write_input(dir, "in8000.wav", 8000, 1, 2.0);
    const std::string log = dir.file("log.txt");
    const auto r = decode({"-logfile", log, input});
    EXPECT_EQ(r.exit_code, 11);
    const std::string words = "This sampling rate is not supported: 8000 Hz; vekmrkdec reads "
                              "11025, 16000, 22050, 24000, 32000, 44100 and 48000 Hz";
    EXPECT_NE(r.err.find(words), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(fixture::read_file(log).starts_with(
        " -11\r\n   0 packet(s) decoded at an average of 0.0x\r\n" + words));
}

TEST(DecoderProgram, BadConfigurationIsRefusedByName) {
    fixture::TempDir dir;
    const std::string input = write_input(dir, "in.wav", 44100, 2, 1.0);
    const std::string log = dir.file("log.txt");
    const std::string channel = "Failure to configure the decoder for channel# 0 with:\n\t";
    const struct {
        std::vector<std::string> options;
        int exit_code;
        std::string words; // on the console and in the log
    } cases[] = {
        {{"-layer", "public", "-rawbr", "0", "-logfile", log},
         4,
         "Failure to configure the decoder: -rawbr 0: out of range; give a number from 1 to 2000"},
        // -logfile and its value may stand between an option and its value.
        {{"-rawbr", "-logfile", log, "abc"}, 4, "-rawbr abc: not a number"},
        {{"-rawbr", "0x32", "-logfile", log}, 4, "-rawbr 0x32: not a number"},
        {{"-layer", "-rawbr", "45", "-logfile", log}, 4, "-layer needs a value"},
        {{"-speed", "-1", "-logfile", log},
         4,
         "-speed -1: out of range; give a number from 0 to 5"},
        {{"-speed", "6", "-logfile", log}, 4, "-speed 6: out of range"},
        {{"-speed", "x", "-logfile", log}, 4, "-speed x: not a number"},
        {{"-gain", "2", "-logfile", log},
         1,
         "-gain: unknown option; the options are -layer, -rawbr"},
        {{"-logfile", log, "-layer", "private"}, 4, "Failure to configure the decoder"},
        {{"-layer", "private", "-layer", "public", "-layer", "private", "-logfile", log},
         4,
         "Failure to configure the decoder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words);
        std::filesystem::remove(log);
        std::vector<std::string> args = c.options;
        args.push_back(input);
        const auto r = decode(args);
        EXPECT_EQ(r.exit_code, c.exit_code);
        EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
        const std::string logged = fixture::read_file(log);
        EXPECT_TRUE(logged.starts_with("  -" + std::to_string(c.exit_code) + "\r\n")) << logged;
        EXPECT_NE(logged.find(c.words), std::string::npos) << logged;
    }
    // A private layer without an owner name shows the configuration and why.
    const auto owner = decode({"-layer", "private", input});
    EXPECT_EQ(owner.err, kBanner + channel + " -layer private\n" + owner_name_problem("") + "\n");
    // With the owner name set, "-layer private" reads.
    const auto r = decode({"-layer", "private", input}, {{"VEKMRK_OWNER", "VekTestOwner"}});
    EXPECT_EQ(r.exit_code, 0);
}

TEST(DecoderProgram, UnmarkedInputEndsWithAnEmptySummary) {
    fixture::TempDir dir;
    const std::string input = write_input(dir, "noise.wav", 44100, 2, 3.0);
    const std::string log = dir.file("log.txt");
    const auto r = decode({"-logfile", log, input, "-S"});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(report_without_speed(r.out),
              "\"" + input + "\"\n-> 0 packet(s) decoded at an average of ");
    // Three whole seconds (-S: standard error is not a terminal): 033, 066, 100, and 100 again
    // after the empty last read.
    EXPECT_EQ(r.err, kBanner + "000%\b\b\b\b033%\b\b\b\b066%\b\b\b\b100%\b\b\b\b100%\n");
    EXPECT_EQ(log_without_speed(fixture::read_file(log)),
              "1000\r\nAnalysis summary for " + input +
                  "\r\n   0 packet(s) decoded at an average of _x\r\n");
}

TEST(DecoderProgram, EveryAcceptedRateIsDecodedAndShortInputsKeepTheFigureInRange) {
    fixture::TempDir dir;
    for (const int32_t rate : {11025, 16000, 22050, 24000, 32000, 44100, 48000}) {
        SCOPED_TRACE(rate);
        const std::string input =
            write_input(dir, std::to_string(rate) + ".wav", rate, 1, 1.5, fixture::Signal::Music);
        const auto r = decode({"-S", input});
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(report_without_speed(r.out),
                  "\"" + input + "\"\n-> 0 packet(s) decoded at an average of ");
        EXPECT_EQ(r.err, kBanner + "000%\b\b\b\b100%\b\b\b\b100%\n");
    }
    const std::string half = write_input(dir, "half.wav", 44100, 1, 0.5);
    const auto r = decode({"-S", half});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, kBanner + "000%\b\b\b\b100%\n");
    // Not a terminal and no -S, or -q: no figure at all.
    EXPECT_EQ(decode({half}).err, kBanner);
    EXPECT_EQ(decode({"-q", half}).err, "");
}

// The per-packet lines of a run's console output: each stands at the start of a line or
// right after the backspaces that erase the progress figure.
std::vector<std::string> packet_lines(const std::string& err) {
    static const std::regex packet(R"(x[0-9A-F]+( \(T \d{2,}:\d{2}\))?)");
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = err.find('\n'); end != std::string::npos;
         start = end + 1, end = err.find('\n', start)) {
        std::string line = err.substr(start, end - start);
        const size_t erased = line.rfind("\b\b\b\b");
        if (erased != std::string::npos)
            line = line.substr(erased + 4);
        if (std::regex_match(line, packet))
            lines.push_back(line);
    }
    return lines;
}

TEST(DecoderProgram, LongConfigurationAndPathsAreKeptWhole) {
    fixture::TempDir dir;
    const std::string input = write_input(dir, "in.wav", 22050, 1, 1.0);
    // Over 500 characters of configuration: the last -rawbr wins.
    std::vector<std::string> args;
    for (int i = 0; i < 60; ++i)
        args.insert(args.end(), {"-layer", "public"});
    args.insert(args.end(), {"-rawbr", "0", "-logfile", dir.file("log.txt")});
    args.push_back(input);
    const auto refused = decode(args);
    EXPECT_EQ(refused.exit_code, 4);
    EXPECT_NE(refused.err.find("-rawbr 0: out of range"), std::string::npos);
    args[args.size() - 4] = "50";
    EXPECT_EQ(decode(args).exit_code, 0);

    const std::string long_path = dir.file(std::string(240, 'p') + ".wav");
    const auto missing = decode({long_path});
    EXPECT_EQ(missing.exit_code, 10);
    EXPECT_EQ(missing.err,
              kBanner + "Failure to open " + long_path + " for reading.\nNo such file\n");
}

TEST(DecoderProgram, ReadsSeveralFilesAndStandardInputEachWithItsReport) {
    fixture::TempDir dir;
    const std::string marked = kVectors + "/out1.wav";
    const std::string missing = dir.file("missing.wav");
    const std::string entry = "(x0123ABCD) - 3 instance(s)\n";
    const auto r = decode({marked, missing, "-q", marked});
    // The worst exit code; every readable file has its quoted name line and summary.
    EXPECT_EQ(r.exit_code, 10);
    const std::string block = "\"" + marked + "\"\n" + entry + "-> 3 packet(s) decoded";
    EXPECT_EQ(std::regex_replace(r.out, std::regex(R"( at an average of \d+\.\dx)"), ""),
              block + "\n" + block + "\n");
    EXPECT_NE(r.err.find("Failure to open " + missing + " for reading.\nNo such file"),
              std::string::npos);
    // One log follows one file.
    EXPECT_EQ(decode({"-logfile", dir.file("log.txt"), marked, marked}).exit_code, 1);

    const auto piped =
        fixture::run_program("/bin/sh", {"-c", "exec \"$0\" -q - < \"$1\"", kProgram, marked});
    EXPECT_EQ(piped.exit_code, 0);
    EXPECT_TRUE(piped.out.starts_with("\"-\"\n" + entry)) << piped.out;
}

struct VectorCase {
    std::vector<std::string> options;
    fixture::EnvChanges env;
    std::string file;
    std::string entries; // the summary's entry lines
    int packets;
};

TEST(DecoderProgram, ConformanceVectorsDecodeAsRecorded) {
    const VectorCase cases[] = {
        {{}, kNoOwner, "out1.wav", "(x0123ABCD) - 3 instance(s)\n", 3},
        // A first-match sync search locks onto the lead-in's false sync and finds none of these.
        {{"-layer", "VekTestOwner"},
         kNoOwner,
         "out2.wav",
         "(x0A1B) - 5 instance(s) - (T 00:00) through (T 00:15)\n",
         5},
        {{"-layer", "private"},
         {{"VEKMRK_OWNER", "VekTestOwner"}},
         "out2.wav",
         "(x0A1B) - 5 instance(s) - (T 00:00) through (T 00:15)\n",
         5},
        {{}, {{"VEKMRK_OWNER", "VekTestOwner"}}, "out2.wav", "", 0},
        {{"-layer", "private"}, {{"VEKMRK_OWNER", "SomeoneElse"}}, "out2.wav", "", 0},
        // A first-match sync search finds 6 of these 12.
        {{"-rawbr", "45"}, kNoOwner, "out3.wav", "(x1A20) - 12 instance(s)\n", 12},
        {{}, kNoOwner, "out3.wav", "", 0},
    };
    for (const VectorCase& c : cases) {
        std::vector<std::string> args = c.options;
        args.push_back(kVectors + "/" + c.file);
        SCOPED_TRACE(c.file + " " + (c.options.empty() ? "" : c.options[0] + " " + c.options[1]));
        const auto r = decode(args, c.env);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(report_without_speed(r.out), "\"" + args.back() + "\"\n" + c.entries + "-> " +
                                                   std::to_string(c.packets) +
                                                   " packet(s) decoded at an average of ");
        // One console line per packet: the summary counts what was printed.
        EXPECT_EQ(static_cast<int>(packet_lines(r.err).size()), c.packets);
    }
}

} // namespace
