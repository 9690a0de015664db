// vekmrk_genwav: writes a deterministic test signal as a 16-bit PCM WAV file.
//   vekmrk_genwav <out.wav> [seconds] [rate] [channels] [music|noise|sine|silence] [level] [seed]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/wav_fixture.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "Usage: %s <out.wav> [seconds=20] [rate=44100] [channels=2] "
                     "[music|noise|sine|silence] [level=0.3] [seed=1]\n",
                     argv[0]);
        return 1;
    }
    fixture::WavSpec spec;
    spec.seconds = argc > 2 ? std::atof(argv[2]) : 20.0;
    spec.rate = argc > 3 ? std::atoi(argv[3]) : 44100;
    spec.channels = argc > 4 ? std::atoi(argv[4]) : 2;
    const std::string kind = argc > 5 ? argv[5] : "music";
    spec.level = argc > 6 ? std::atof(argv[6]) : 0.3;
    spec.seed = argc > 7 ? static_cast<uint32_t>(std::strtoul(argv[7], nullptr, 10)) : 1;
    if (kind == "noise")
        spec.signal = fixture::Signal::Noise;
    else if (kind == "sine")
        spec.signal = fixture::Signal::Sine;
    else if (kind == "silence")
        spec.signal = fixture::Signal::Silence;
    else if (kind == "music")
        spec.signal = fixture::Signal::Music;
    else {
        std::fprintf(stderr, "Unknown signal kind: %s\n", kind.c_str());
        return 1;
    }
    if (spec.seconds <= 0 || spec.rate <= 0 || spec.channels <= 0 || spec.channels > 64) {
        std::fprintf(stderr, "Bad length, rate or channel count.\n");
        return 1;
    }
    if (!fixture::write_wav(argv[1], spec)) {
        std::fprintf(stderr, "Cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
