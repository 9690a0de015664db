#include "common/progress_log.h"

#include <gtest/gtest.h>

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
