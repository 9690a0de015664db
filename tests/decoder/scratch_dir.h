#pragma once
// A fresh folder for one test's files, removed with its contents when the test ends; and the
// small file helpers the decoder's program-level tests share.

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "tests/support/wav_fixture.h"

class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("vekmrk_decoder_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(std::string_view name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Occurrences of `needle` in `text`.
inline int count_of(std::string_view text, std::string_view needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1))
        ++n;
    return n;
}

// Writes a generated signal as `name` in the folder and returns its path ("" when it fails).
inline std::string write_generated(const ScratchDir& dir, const std::string& name, int32_t rate,
                                   int32_t channels, double seconds, fixture::Signal signal,
                                   uint32_t seed = 1) {
    const std::string path = dir.file(name);
    return fixture::write_wav(path, fixture::settings(rate, channels, seconds, signal, 0.3, seed))
               ? path
               : std::string();
}
