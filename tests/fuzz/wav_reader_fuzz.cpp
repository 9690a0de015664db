// libFuzzer target: any bytes, stored as a file, go through wav_open_read and every frame is
// read back with wav_read_frames. Beyond the sanitizers it checks that an opened stream never
// claims frames the file does not hold.
//
// scripts/test.sh runs it for a minute from the seed inputs; by hand:
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVEKMRK_FUZZ=ON
//   cmake --build build-fuzz --target fuzz
//   build-fuzz/tests/fuzz/wav_reader_fuzz -max_len=4096 corpus/ tests/data/wav_malformed/

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/wav.h"

namespace {

const std::string& scratch_path() {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("vekmrk_wav_fuzz_" + std::to_string(::getpid()) + ".wav"))
                                        .string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = scratch_path();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        return 0;
    }

    WavStreamPtr in = wav_open_read(path);
    if (!in) {
        return 0;
    }
    if (in->channels < 1 || in->bits != 16 || in->frames < 0 ||
        static_cast<uint64_t>(in->frames) * 2 * static_cast<uint64_t>(in->channels) + 44 > size) {
        std::abort();
    }
    const auto channels = static_cast<size_t>(in->channels);
    const int32_t block = static_cast<int32_t>(std::max<size_t>(1, 4096 / channels));
    std::vector<std::vector<float>> planes(channels,
                                           std::vector<float>(static_cast<size_t>(block)));
    std::vector<float*> pointers;
    for (auto& p : planes) {
        pointers.push_back(p.data());
    }
    int64_t total = 0;
    for (int32_t got; (got = wav_read_frames(*in, pointers, block)) > 0;) {
        total += got;
    }
    if (total != in->frames) {
        std::abort();
    }
    return 0;
}
