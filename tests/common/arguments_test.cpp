#include "common/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr ConfigOption kOptions[] = {
    config_choice("-layer", "public|private", "public"),
    config_number("-gain", 0.0, 10.0, "1.0"),
};
const ArgumentRules kEncoder{kOptions, true, 3};
const ArgumentRules kDecoder{kOptions, false, 0};

// The parse of `line` (words split at blanks) as one text: files|configuration|log|flags, or
// "!" and the problem.
std::string parse(const ArgumentRules& rules, const std::vector<std::string_view>& words) {
    Arguments parsed;
    std::string problem;
    if (!arguments_parse(words, rules, parsed, problem))
        return "!" + problem;
    const Arguments* a = &parsed;
    std::string out;
    for (const std::string& file : a->files)
        out += file + ",";
    out += "|" + a->configuration + "|" + a->log_path + "|";
    out += std::string(a->help ? "h" : "") + (a->version ? "v" : "") + (a->quiet ? "q" : "") +
           (a->show_progress ? "S" : "") + (a->verify ? "V" : "");
    return out;
}

} // namespace

TEST(Arguments, SortsWordsAsSoxUsersExpect) {
    const struct {
        const ArgumentRules* rules;
        std::vector<std::string_view> words;
        const char* expected; // whole parse, or "!" and words of the problem
    } cases[] = {
        // The front end's command line reads as it always did.
        {&kEncoder,
         {"-logfile", "w.txt", "-gain", "1.0", "-layer", "public", "in.wav", "0A", "out.wav"},
         "in.wav,0A,out.wav,| -gain 1.0 -layer public|w.txt|"},
        {&kEncoder,
         {"in.wav", "0A", "out.wav", "-logfile", "x.log", "-q", "-verify"},
         "in.wav,0A,out.wav,||x.log|qV"},
        {&kEncoder, {"-gain(-2)", "-", "0A", "-", "-S"}, "-,0A,-,| -gain(-2)||S"},
        {&kEncoder, {"--", "-odd.wav", "0A", "out.wav"}, "-odd.wav,0A,out.wav,|||"},
        {&kEncoder, {"--version", "in.wav", "0A", "out.wav"}, "in.wav,0A,out.wav,|||v"},
        {&kEncoder, {"-gian", "2", "--help"}, "2,|||h"},
        {&kDecoder, {"a.wav", "-layer", "private", "b.wav"}, "a.wav,b.wav,| -layer private||"},
        {&kEncoder, {"-gian", "2", "in.wav", "0A", "out.wav"}, "!-gian: unknown option; the"},
        {&kEncoder, {"--gain=2", "in.wav", "0A", "out.wav"}, "!did you mean -gain 2?"},
        {&kDecoder, {"-verify", "a.wav"}, "!-verify: unknown option"},
        {&kEncoder, {"in.wav", "0A", "-logfile"}, "!-logfile needs a value"},
        {&kEncoder,
         {"in.wav", "0A"},
         "!three file arguments, <infile> <hexPayload> <outfile> "
         "wanted, 2 given: in.wav 0A"},
        {&kDecoder, {"-q"}, "!one or more input files wanted, 0 given"},
    };
    for (const auto& c : cases) {
        const std::string got = parse(*c.rules, c.words);
        SCOPED_TRACE(got);
        if (c.expected[0] == '!')
            EXPECT_NE(got.find(c.expected + 1), std::string::npos);
        else
            EXPECT_EQ(got, c.expected);
    }
}
