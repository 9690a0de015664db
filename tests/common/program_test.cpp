// The command line both programs read: files and options in any order, "-logfile" taken out.
#include "common/program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"

namespace {

constexpr ConfigOption kOptions[] = {
    config_word("-layer", "a layer", "public"),
    config_number("-gain", 0.0, 10.0, "1.0"),
};

std::optional<CommandLine> read(Program program, std::vector<std::string> words) {
    words.insert(words.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    CommandLine line;
    std::string problem;
    if (!program_command_line(program, static_cast<int>(argv.size()), argv.data(), kOptions, line,
                              problem))
        return {};
    return line;
}

} // namespace

TEST(ProgramCommandLine, FilesAreTheLastWordsAndLogfileNeverReachesTheConfiguration) {
    const auto enc =
        read(Program::Encoder, {"-gain", "-logfile", "log.txt", "2", "in.wav", "AB", "out.wav"});
    ASSERT_TRUE(enc);
    EXPECT_EQ(enc->name, "prog");
    EXPECT_EQ(enc->input, "in.wav");
    EXPECT_EQ(enc->payload, "AB");
    EXPECT_EQ(enc->output, "out.wav");
    EXPECT_EQ(enc->log_path, "log.txt");
    EXPECT_EQ(enc->configuration, " -gain 2");

    const auto dec = read(Program::Decoder, {"-layer", "private", "-logfile", "l", "in.wav"});
    ASSERT_TRUE(dec);
    EXPECT_EQ(dec->input, "in.wav");
    EXPECT_EQ(dec->log_path, "l");
    EXPECT_EQ(dec->configuration, " -layer private");
    // After "--" a word is a file, whatever it reads like.
    EXPECT_EQ(read(Program::Decoder, {"--", "-logfile"})->input, "-logfile");
    const auto several = read(Program::Decoder, {"a.wav", "-layer", "x", "b.wav"});
    ASSERT_TRUE(several);
    EXPECT_EQ(several->inputs, (std::vector<std::string>{"a.wav", "b.wav"}));
}

TEST(ProgramCommandLine, RefusedWhenWordsAreMissingOrLogfileWouldTakeAFile) {
    EXPECT_FALSE(read(Program::Decoder, {}));
    EXPECT_FALSE(read(Program::Decoder, {"-logfile"}));
    EXPECT_FALSE(read(Program::Encoder, {"in.wav", "AB"}));
    EXPECT_FALSE(read(Program::Decoder, {"-layer", "public", "-logfile", "in.wav"}));
    EXPECT_FALSE(read(Program::Encoder, {"-logfile", "in.wav", "AB", "out.wav"}));
}

TEST(ProgramCommandLine, LogMayNotNameAFileOfTheRun) {
    fixture::TempDir dir;
    fixture::write_file(dir.file("in.wav"), "RIFF");
    const std::string in = dir.file("in.wav");
    const std::string out = dir.file("out.wav");
    EXPECT_NE(program_log_clash(*read(Program::Decoder, {"-logfile", in, in})).find("input"),
              std::string::npos);
    EXPECT_NE(program_log_clash(
                  *read(Program::Encoder, {"-logfile", dir.file("sub/../out.wav"), in, "AB", out}))
                  .find("output"),
              std::string::npos);
    EXPECT_EQ(
        program_log_clash(*read(Program::Encoder, {"-logfile", dir.file("l"), in, "AB", out})), "");
}
