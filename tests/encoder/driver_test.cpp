#include "encoder/driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Payload, UpperCasesAndPadsToWholeBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"1A2", "1A20"},
        {"00ff", "00FF"},
        {"cafeBabe", "CAFEBABE"},
        {"7", "70"},
        {"0123456789abcdef", "0123456789ABCDEF"},
        {std::string(97, 'f'), std::string(97, 'F') + "0"},
        {std::string(98, '9'), std::string(98, '9')},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        std::string problem;
        EXPECT_EQ(payload_normalize(text, problem), expected);
        EXPECT_TRUE(problem.empty());
    }
}

TEST(Payload, RefusesEmptyForeignOrOverlongText) {
    const std::string cases[] = {"",
                                 "12G4",
                                 "0x12",
                                 "12 34",
                                 "-1",
                                 "12\n",
                                 "\xC3\xA9",
                                 std::string(99, 'A'),
                                 std::string(200, '0')};
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        std::string problem;
        EXPECT_FALSE(payload_normalize(text, problem));
        EXPECT_FALSE(problem.empty());
        EXPECT_EQ(problem.find('\n'), std::string::npos);
    }
}
