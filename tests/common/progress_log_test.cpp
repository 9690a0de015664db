#include "common/progress_log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "tests/support/files.h"

TEST(ProgressLog, EncoderLayout) {
    fixture::TempDir dir;
    const std::string log = dir.file("wmtmp123.txt");
    const struct {
        int32_t status;
        int32_t packets;
        double speed;
        const char* message;
        const char* expected;
    } cases[] = {
        {35, 12, 9.0, nullptr, "  35\r\n12 packets encoded at an average of 9.0x\r\n"},
        {0, 0, 0.0, nullptr, "   0\r\n"},
        {-10, 0, 0.0, "Failure to open in.wav for reading.",
         " -10\r\nFailure to open in.wav for reading.\r\n"},
        {1000, 6, 3.26, "A watermarked file named: out.wav was created.",
         "1000\r\n6 packets encoded at an average of 3.3x\r\nA watermarked file named: out.wav was "
         "created.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        EXPECT_TRUE(progress_log_write(log, c.status, c.packets, c.speed, c.message));
        EXPECT_EQ(fixture::read_file(log), c.expected);
    }
}

TEST(ProgressLog, DecoderLayout) {
    fixture::TempDir dir;
    const std::string log = dir.file("log.txt");
    EXPECT_TRUE(
        progress_log_write_decoder(log, -11, 0, 0.0, "This sampling rate is not supported"));
    EXPECT_EQ(fixture::read_file(log),
              " -11\r\n   0 packet(s) decoded at an average of 0.0x\r\nThis "
              "sampling rate is not supported\r\n");
    // This message carries a line feed of its own, so an empty line follows it.
    EXPECT_TRUE(
        progress_log_write_decoder(log, -10, 0, 0.0, "Failure to open a.wav for reading.\n"));
    EXPECT_EQ(fixture::read_file(log),
              " -10\r\n   0 packet(s) decoded at an average of 0.0x\r\nFailure to "
              "open a.wav for reading.\r\n\r\n");
    EXPECT_TRUE(progress_log_write_decoder(log, 42, 17, 12.34, nullptr));
    EXPECT_EQ(fixture::read_file(log), "  42\r\n  17 packet(s) decoded at an average of 12.3x\r\n");
}

TEST(ProgressLog, DecoderSummaryReplacesTheFile) {
    fixture::TempDir dir;
    const std::string log = dir.file("log.txt");
    EXPECT_TRUE(progress_log_write_summary(
        log, "in.wav", 7, 5.0,
        "(x1A2B) - 7 instance(s) - (T 01:00) through (T 02:15)\n(x99) - 1 instance(s)\n"));
    EXPECT_EQ(fixture::read_file(log),
              "1000\r\nAnalysis summary for in.wav\r\n   7 packet(s) decoded at an average of "
              "5.0x\r\n(x1A2B) - 7 instance(s) - (T 01:00) through (T 02:15)\r\n(x99) - 1 "
              "instance(s)\r\n");
    EXPECT_TRUE(progress_log_write(log, 7, 0, 0.0, nullptr));
    EXPECT_EQ(fixture::read_file(log), "   7\r\n");
    // A report that cannot be written is dropped and said so.
    EXPECT_FALSE(progress_log_write(dir.file("missing/log.txt"), 7, 0, 0.0, nullptr));
    EXPECT_FALSE(progress_log_write_text(dir.path().string(), "x\n"));
}

TEST(ProgressLog, EachReportReplacesTheFileWhole) {
    fixture::TempDir dir;
    const std::string log = dir.file("wmtmp007.txt");
    ASSERT_TRUE(progress_log_write(log, 35, 12, 9.0, nullptr));
    // A reader that opened the file before the next report still reads a complete report: the
    // file is replaced, never truncated and rewritten in place.
    std::ifstream reader(log, std::ios::binary);
    ASSERT_TRUE(
        progress_log_write(log, 1000, 12, 9.0, "A watermarked file named: o.wav was created."));
    const std::string seen((std::istreambuf_iterator<char>(reader)),
                           std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, "  35\r\n12 packets encoded at an average of 9.0x\r\n");
    EXPECT_TRUE(fixture::read_file(log).starts_with("1000\r\n"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST(ProgressLog, NeverWritesThroughALinkNorOverASpecialFile) {
    fixture::TempDir dir;
    namespace fs = std::filesystem;
    fixture::write_file(dir.file("out.wav"), "audio");
    fs::create_symlink("out.wav", dir.file("run.log"));
    fs::create_symlink("made.txt", dir.file("dangling.log"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.log").c_str(), 0600), 0);
    fs::create_directory(dir.file("folder.log"));
    const struct {
        const char* name;
        const char* problem;
    } cases[] = {{"run.log", "symbolic link"},
                 {"dangling.log", "symbolic link"},
                 {"fifo.log", "named pipe"},
                 {"folder.log", "folder"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(progress_log_write(dir.file(c.name), 0, 0, 0.0, nullptr));
        EXPECT_NE(progress_log_problem(dir.file(c.name)).find(c.problem), std::string::npos);
    }
    EXPECT_EQ(fixture::read_file(dir.file("out.wav")), "audio");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir.file("run.log"))));
    EXPECT_FALSE(fs::exists(dir.file("made.txt")));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 5);
    EXPECT_EQ(progress_log_problem(dir.file("out.wav")), "");
    EXPECT_EQ(progress_log_problem(dir.file("new.log")), "");
}

TEST(ProgressLog, Percentage) {
    const struct {
        int32_t done, seconds, expected;
    } cases[] = {
        {0, 10, 0}, {5, 10, 50}, {11, 10, 110}, {1, 3, 33},       {2, 3, 66},
        {0, 0, 0},  {1, 0, 100}, {2, 0, 100},   {100000, 1, 999}, {-5, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.done << " of " << c.seconds);
        EXPECT_EQ(progress_percentage(c.done, c.seconds), c.expected);
    }
}
