#include "common/config_check.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr ConfigOption kOptions[] = {
    config_choice("-layer", "public|private", "public"),
    config_number("-gain", 0.0, 10.0, "1.0", ConfigRange::SignIgnored),
    config_number("-rawbr", 0.0, 1000.0, "50", ConfigRange::LowExcluded),
    config_word("-code", "a layer code", ""),
};

} // namespace

TEST(ConfigCheck, RefusesWhatTheGrammarWouldMisreadAndSaysWhatIsAllowed) {
    const struct {
        const char* text;
        const char* words; // what the problem must say; "" for a sound text
    } cases[] = {
        {"", ""},
        {" -layer private -gain(-2.5) [-rawbr,1e2] -code Acme", ""},
        {" -gain 0 -gain 10 -rawbr .5", ""},
        {" -gian 2", "-gian: unknown option; the options are -layer, -gain, -rawbr and -code"},
        {" --gain=2", "--gain=2: unknown option"},
        {" stray", "stray: not an option"},
        {" -gain abc", "-gain abc: not a number; give a number from 0 to 10"},
        {" -gain 2x", "not a number"},
        {" -gain 0x10", "not a number"},
        {" -gain inf", "not a number"},
        {" -gain 1e9", "-gain 1e9: out of range; give a number from 0 to 10"},
        {" -gain -11", "out of range"},
        {" -rawbr 0", "-rawbr 0: out of range; give a number above 0 up to 1000 (default 50)"},
        {" -layer publik", "-layer publik: not allowed; use public or private (default public)"},
        {" -layer", "-layer needs a value: public or private"},
        {" -code -gain 2", "-code needs a value: a layer code"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string problem = config_problem(c.text, kOptions);
        if (*c.words == '\0')
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.words), std::string::npos) << problem;
    }
}
