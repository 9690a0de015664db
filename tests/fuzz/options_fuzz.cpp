// libFuzzer target: the option and configuration parsers of both programs. The input is a
// command line, its words separated by NUL bytes; the words go through both programs' command
// lines and the payload check, and joined by blanks through both configuration grammars (with
// the first word as the owner name) and the owner-name checks. Beyond the sanitizers it checks
// what every accepted command line and configuration promises.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/owner_name.h"
#include "common/program.h"
#include "decoder/config.h"
#include "encoder/config.h"
#include "encoder/driver.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words;
    size_t at = 0;
    while (at <= text.size() && words.size() < 64) {
        const size_t end = std::min(text.find('\0', at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end + 1;
    }

    std::vector<char*> argv = {const_cast<char*>("vekmrk")};
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);
    for (const Program program : {Program::Encoder, Program::Decoder}) {
        const std::span<const ConfigOption> options =
            program == Program::Encoder ? encoder_config_options() : decoder_config_options();
        CommandLine line;
        std::string refusal;
        if (!program_command_line(program, argc, argv.data(), options, line, refusal)) {
            check(!refusal.empty());
            continue;
        }
        if (line.help || line.version) {
            continue;
        }
        // The files are words of the command line, in any place.
        const auto given = [&](const std::string& file) {
            return std::find(words.begin(), words.end(), file) != words.end();
        };
        check(given(line.input));
        if (program == Program::Decoder) {
            check(!line.inputs.empty() && line.inputs.front() == line.input);
            continue;
        }
        check(given(line.output));
        std::string problem;
        if (const std::optional<std::string> payload = payload_normalize(line.payload, problem)) {
            check(payload->size() % 2 == 0 && payload->size() <= kMaxPayloadDigits + 1);
            check(payload->find_first_not_of("0123456789ABCDEF") == std::string::npos);
        } else {
            check(!problem.empty());
        }
    }

    std::string configuration;
    for (const std::string& word : words) {
        configuration += ' ';
        configuration += word;
    }
    const std::string& owner = words.front();
    const bool owner_usable = owner_name_problem(owner).empty();
    if (const std::optional<EncoderConfig> config = encoder_config_parse(configuration, owner)) {
        check(std::isfinite(config->gain) && config->gain >= 0.0f);
        check(std::isfinite(config->chip_rate) && config->chip_rate > 0.0f);
        check(config->private_layer || (config->seed == 0 && config->check_mask == 0));
    }
    if (const std::optional<DecoderConfig> config = decoder_config_parse(configuration)) {
        const std::optional<LayerKey> key = decoder_layer_key(*config, owner);
        if (config->layer == DecoderLayer::Private) {
            check(key.has_value() == owner_usable);
        }
        // A usable owner name never keys a layer that the public layer reads.
        if (key && config->layer == DecoderLayer::Private) {
            check(key->seed != 0 && key->check_mask != 0);
        }
    }
    return 0;
}
