#include "common/signal_cleanup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "tests/support/files.h"

namespace fs = std::filesystem;

TEST(SignalCleanupDeathTest, RemovesTheFilesAndEndsTheLogWithTheSignal) {
    fixture::TempDir dir;
    const std::string temp = dir.file(".out.wav.tmp");
    const std::string log = dir.file("run.log");
    const struct {
        int signal_number;
        ProgressLogLayout layout;
        const char* status;
        const char* words;
    } cases[] = {
        {SIGTERM, ProgressLogLayout::Encoder, "-143\r\n", "signal 15 (SIGTERM)"},
        {SIGINT, ProgressLogLayout::Decoder, "-130\r\n", "   0 packet(s) decoded"},
        {SIGHUP, ProgressLogLayout::Encoder, "-129\r\n", "SIGHUP"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal_number);
        fixture::write_file(temp, "half an output");
        fixture::write_file(log, "  42\r\n");
        EXPECT_EXIT(
            {
                signal_cleanup_install();
                signal_cleanup_set_log(log, c.layout);
                signal_cleanup_add(temp);
                std::raise(c.signal_number);
            },
            testing::KilledBySignal(c.signal_number), "");
        EXPECT_FALSE(fs::exists(temp));
        const std::string report = fixture::read_file(log);
        EXPECT_TRUE(report.starts_with(c.status)) << report;
        EXPECT_NE(report.find(c.words), std::string::npos) << report;
        // Nothing else is left in the folder: the report's own new file was renamed.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

TEST(SignalCleanupDeathTest, ASignalDuringAHoldActsWhenTheHoldEnds) {
    fixture::TempDir dir;
    const std::string temp = dir.file(".out.wav.tmp");
    const std::string kept = dir.file("kept.txt"); // not registered
    EXPECT_EXIT(
        {
            signal_cleanup_install();
            {
                SignalHold hold;
                std::raise(SIGTERM);
                // Still running: the file is created and registered before the signal acts.
                fixture::write_file(kept, "x");
                fixture::write_file(temp, "x");
                signal_cleanup_add(temp);
            }
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
    EXPECT_TRUE(fs::exists(kept));
    EXPECT_FALSE(fs::exists(temp));
}

// Writes 64 KiB under a file-size limit of 4 KiB; exits 20 when the write fails, 1 when not.
[[noreturn]] void write_past_the_limit(const std::string& path) {
    signal_cleanup_install();
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const std::string block(65536, 'x');
    const bool written = std::fwrite(block.data(), 1, block.size(), file) == block.size();
    const bool closed = std::fclose(file) == 0;
    std::_Exit(written && closed ? 1 : 20);
}

TEST(SignalCleanupDeathTest, AWritePastTheFileSizeLimitFailsInsteadOfEndingTheProgram) {
    fixture::TempDir dir;
    EXPECT_EXIT(write_past_the_limit(dir.file("big.bin")), testing::ExitedWithCode(20), "");
}
