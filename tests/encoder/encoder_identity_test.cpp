// Byte identity of vekmrkenc's output. Every case below writes a generated input, encodes it with
// the real program and compares the output file's SHA-256 with the checksum recorded from the
// plain implementation (one sample at a time, plain loops), which every faster version must
// match byte for byte. The inputs' checksums are recorded too, so that a change of the test
// generator is told apart from a change of the encoder. A mismatch here means the watermarked bytes
// changed: the encoder's arithmetic must be put back, never the checksums re-recorded to match.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "common/owner_name.h"
#include "common/simd.h"
#include "encoder/pipeline.h"
#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/sha256.h"
#include "tests/support/wav_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kProgram = VEKMRKENC_PATH;

struct IdentityCase {
    const char* name;
    fixture::WavSpec input;
    std::vector<std::string> options;
    std::optional<std::string> owner; // VEKMRK_OWNER, for "-layer private"
    std::string payload;
    const char* input_sha256;
    const char* output_sha256;
    int packets;
    const char* attenuation; // the figure of the clipping message, or nullptr when none
};

using fixture::Signal;

// Rates, channel counts (an odd count and more than two included), layers, time stamps,
// gains, payload lengths, clipping prevention, and lengths that are not whole seconds or are
// shorter than one second.
// clang-format off
const IdentityCase kCases[] = {
    {"22050 mono music", fixture::settings(22050, 1, 6.0, Signal::Music),
     {}, std::nullopt, "0123ABCD",
     "dd501074e12edd6d20fb1075c6f00689bc373287e4962f0a4bc40f0ac68974fc",
     "cb29bb40c00ceab282c122177d50ab18187f7a20d035e80da7e94df15c4a8580", 3, nullptr},
    {"24000 stereo music, time stamps", fixture::settings(24000, 2, 5.0, Signal::Music, 0.3, 2),
     {"-addts", "1"}, std::nullopt, "BEEF",
     "91b6afb40a209a877eb8824ec18f38761afb4f5f3219fa16bdac94ed0ce8d3cb",
     "b835f0e34c5bd5e6942011992eec7032d7dde423934920b353e16aebf6bcbda6", 6, nullptr},
    {"32000 mono quiet noise, gain 0.5, odd payload", fixture::settings(32000, 1, 4.0, Signal::Noise, 0.1, 3),
     {"-gain", "0.5"}, std::nullopt, "1A2",
     "051f88d9481bc0b0c8efdb09e9b8b6dd219890198266899e0ec255086e8e2358",
     "70be1c4321a25519c0714f0675616b28903fed431cd0890b129b4fec4563807d", 3, nullptr},
    {"44100 stereo music, 4.5 s", fixture::settings(44100, 2, 4.5, Signal::Music),
     {}, std::nullopt, "0123ABCD",
     "0f115c15c9c7d2dc2d0202727763630bb0d19485c81ed0b57cc308d3f4f07a9d",
     "66ba87d7d0bfbd31335f18c94b91bba68828889fcb108ff645abb310c4ee29c3", 4, nullptr},
    {"48000 stereo music, private layer, time stamps", fixture::settings(48000, 2, 5.0, Signal::Music, 0.3, 4),
     {"-layer", "private", "-addts", "1"}, "Alice", "CAFEBABE",
     "8984d1db1ac3047e57b6cfec8900acdda6558e613cd15632e95324c4d2d4d7ec",
     "27960a9a4bb0fcb0dfc0bed9f6eab49350c97a27128b0de66c17c5ba59528ceb", 4, nullptr},
    {"44100 mono noise, gain 2, 40 digits", fixture::settings(44100, 1, 5.0, Signal::Noise, 0.2, 5),
     {"-gain", "2"}, std::nullopt, "00112233445566778899AABBCCDDEEFF01234567",
     "71c26af66437cbed98fde111000a68d0041fccf740720082695c8a2bc7e8d907",
     "2bb9f29d4ac1e332778881bdcb89b1dcd8900bfa948eb21cd1a8ac5ed5825167", 1, nullptr},
    {"44100 stereo loud noise, attenuated", fixture::settings(44100, 2, 3.0, Signal::Noise, 0.98, 6),
     {}, std::nullopt, "0123ABCD",
     "edc5d48a0607e1757f4a440968c4055419fd63680c06f18acc27e41f2b458b59",
     "284dc474fd70f8fe98568d1bdddb7456d9ef781668579d30c1c2a52963d6868d", 4, "0.50"},
    {"48000 mono loud sine, gain 3", fixture::settings(48000, 1, 3.0, Signal::Sine, 0.9, 7),
     {"-gain", "3"}, std::nullopt, "77",
     "f7fbe1d42c91a1aa01dc162fd8f2620650071835248d09c75a6d5159a665d67a",
     "94c2ef950225c08b59aed0f58729102ff3783d0bc5067e43d68b2eb73b2cc411", 2, "0.96"},
    {"22050 stereo silence", fixture::settings(22050, 2, 3.0, Signal::Silence),
     {}, std::nullopt, "0123ABCD",
     "0dc4be0bef1961f69a12c3f786ddc1c94a53314c8e6b6445eedd6f6ad2836c99",
     "0dc4be0bef1961f69a12c3f786ddc1c94a53314c8e6b6445eedd6f6ad2836c99", 4, nullptr},
    {"44100 mono music, gain 0", fixture::settings(44100, 1, 3.0, Signal::Music, 0.5, 8),
     {"-gain", "0"}, std::nullopt, "0123ABCD",
     "7dfe2a34bad878f2f8ad7e43e4395630ca5ad6328b90d32540a29029ea54c94a",
     "a1ad2f1521c75e73e0d56b4c77ae088abb023569a61c027049891c8f340a41d6", 2, nullptr},
    {"44100 three channels, 3.7 s", fixture::settings(44100, 3, 3.7, Signal::Music, 0.3, 9),
     {"-addts", "1"}, std::nullopt, "D00D",
     "46331cc9667a3861885c4967c63bd6d81bafa3bcd16325e2ae8f268beca84103",
     "cd64612ac0687adada91603a2b17705db520a1f824e6bbb14f358ceb512dbca6", 6, nullptr},
    {"32000 four channels noise, 45 chips per second", fixture::settings(32000, 4, 3.0, Signal::Noise, 0.3, 10),
     {"-rawbr", "45", "-gain", "0.7"}, std::nullopt, "ABCDEF",
     "c956dabffdbed03c60cd84224822ac5c053d1cdad5890e6db8fec7aba4dd0f00",
     "b22b7d8d8cb6ac8843384cff155ddc682397a2f8592114fa2b04e5b72ef0260e", 8, nullptr},
    {"24000 mono music, private layer, one byte", fixture::settings(24000, 1, 4.0, Signal::Music, 0.3, 11),
     {"-layer", "private"}, "Bob", "00",
     "7c1240505cb202c69725d810bc6e960a94e1e352323e9da75d398f4572d14f27",
     "8f368d96045d84f40ca925b0f926119562d76a661f7b02b8602a4d6f0068cdd1", 3, nullptr},
    {"44100 stereo music, 0.6 s", fixture::settings(44100, 2, 0.6, Signal::Music, 0.3, 12),
     {}, std::nullopt, "0123ABCD",
     "e7866d954a5cd6a3f0b724a00dbe5aaeb59a74256568a9d4c69f653bf9b40346",
     "5528a2fe4fd4f07fe3b011355ca3dacb10024623bd94efd0fd0d3d2790c585e4", 0, nullptr},
    {"44100 stereo music, gain 1.5, time stamps, 10.25 s", fixture::settings(44100, 2, 10.25, Signal::Music, 0.4, 13),
     {"-gain", "1.5", "-addts", "1"}, std::nullopt, "0123456789ABCDEF",
     "47d41894b33557b39c7b807ea4a6660eba483112cf4475769b13c2fe33af9477",
     "380c89a4f5e4d8474460d319fa78e69cc3694295aa2d768d290dcc2a070b4abd", 6, nullptr},
};
// clang-format on

// Every case runs as the machine allows (the best vector instructions, a reading thread) and
// with the portable vector instructions on one thread: both must write the recorded bytes.
TEST(EncoderIdentity, OutputsMatchTheRecordedChecksums) {
    fixture::TempDir dir;
    for (const IdentityCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = fixture::wav_bytes(fixture::generate(c.input));
        // A different input says nothing about the encoder: the generator changed.
        ASSERT_EQ(fixture::sha256_hex(bytes), c.input_sha256) << "the test generator changed";
        const std::string input = dir.file("in.wav");
        const std::string output = dir.file("out.wav");
        ASSERT_TRUE(fixture::write_file(input, std::string(bytes.begin(), bytes.end())));

        for (const bool plain : {false, true}) {
            SCOPED_TRACE(plain ? "portable vector instructions, one thread"
                               : "as the machine allows");
            std::vector<std::string> args = c.options;
            args.insert(args.end(), {input, c.payload, output});
            const fixture::EnvChanges env = {
                {kOwnerEnvVar, c.owner},
                {kSimdEnvVar, plain ? std::optional<std::string>("portable") : std::nullopt},
                {kThreadsEnvVar, plain ? std::optional<std::string>("1") : std::nullopt}};
            const fixture::ProgramResult run = fixture::run_program(kProgram, args, env);
            ASSERT_EQ(run.exit_code, 0) << run.err;
            EXPECT_EQ(fixture::sha256_file(output), c.output_sha256);

            std::smatch m;
            ASSERT_TRUE(std::regex_search(run.out, m, std::regex(R"(-> (\d+) packets encoded)")))
                << run.out;
            EXPECT_EQ(std::stoi(m[1].str()), c.packets);
            const std::string clipping = c.attenuation == nullptr
                                             ? std::string()
                                             : "-> Potential clipping detected; " +
                                                   std::string(c.attenuation) +
                                                   " attenuation applied to the output.\n";
            // A warning may follow: short inputs carry no readable mark.
            EXPECT_NE(run.err.find("Writing audio output to disk...\n" + clipping),
                      std::string::npos)
                << run.err;
            fs::remove(output);
        }
    }
}

} // namespace
