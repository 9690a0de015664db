// Replays the checked-in malformed headers (and what the fuzz target kept) through the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/wav.h"

TEST(WavCorpus, EveryFileIsHandled) {
    const std::filesystem::path folder =
        std::filesystem::path(VEKMRK_TEST_DATA_DIR) / "wav_malformed";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 20u);

    for (const auto& file : files) {
        const std::string name = file.filename().string();
        SCOPED_TRACE(name);
        WavStreamPtr in = wav_open_read(file.string());
        if (name.starts_with("bad_")) {
            EXPECT_FALSE(in);
        } else if (name.starts_with("ok_")) {
            EXPECT_TRUE(in);
        }
        if (!in) {
            continue;
        }
        EXPECT_GE(in->channels, 1);
        EXPECT_EQ(in->bits, 16);
        const auto size = static_cast<int64_t>(std::filesystem::file_size(file));
        EXPECT_LE(static_cast<int64_t>(in->frames) * 2 * in->channels, size - 44);

        const auto channels = static_cast<size_t>(in->channels);
        std::vector<std::vector<float>> planes(channels, std::vector<float>(64));
        std::vector<float*> pointers;
        for (auto& p : planes) {
            pointers.push_back(p.data());
        }
        int32_t total = 0;
        for (int32_t got; (got = wav_read_frames(*in, pointers, 64)) > 0;) {
            total += got;
        }
        EXPECT_EQ(total, in->frames);
    }
}
