#include "common/owner_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "tests/common/temp_dir.h"

namespace {

// Sets or removes VEKMRK_OWNER for one test and restores it afterwards.
class OwnerEnv {
public:
    OwnerEnv()
    {
        if (const char* v = std::getenv(kOwnerEnvVar)) {
            m_saved = v;
        }
    }
    ~OwnerEnv()
    {
        if (m_saved) {
            ::setenv(kOwnerEnvVar, m_saved->c_str(), 1);
        } else {
            ::unsetenv(kOwnerEnvVar);
        }
    }
    OwnerEnv(const OwnerEnv&) = delete;
    OwnerEnv& operator=(const OwnerEnv&) = delete;

private:
    std::optional<std::string> m_saved;
};

}  // namespace

TEST(OwnerName, Problems)
{
    EXPECT_EQ(owner_name_problem(""),
              "No owner name is configured for the private layer: set the environment variable VEKMRK_OWNER, or "
              "write the name on the first line of vekmrk-owner.txt beside the programs.");
    EXPECT_EQ(owner_name_problem("Vek Audio"),
              "The owner name \"Vek Audio\" holds a blank, tab, line feed or one of [ ] ( ) , which cut a layer "
              "code apart: nobody else could read this private layer. Choose an owner name without them.");
    for (const char* bad : {"a\tb", "a\nb", "[x", "x]", "(x", "x)", "a,b", " "}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(owner_name_problem(bad), "");
    }
    for (const char* good : {"abc", "VekTestOwner", "Soci\xC3\xA9t\xC3\xA9", "a-b_c.d"}) {
        SCOPED_TRACE(good);
        EXPECT_EQ(owner_name_problem(good), "");
    }
}

TEST(OwnerName, FirstLineOfTheFile)
{
    TempDir dir;
    EXPECT_EQ(owner_name_from_folder(dir.path()), "");
    const struct {
        const char* content;
        const char* expected;
    } cases[] = {
        {"Soci\xC3\xA9t\xC3\xA9\r\nsecond line\r\n", "Soci\xC3\xA9t\xC3\xA9"},
        {"abc\n", "abc"},
        {"abc", "abc"},
        {"  kept as is \t\n", "  kept as is \t"},
        {"", ""},
        {"\r\nname on line two\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        write_bytes(dir.file(kOwnerFileName), c.content);
        EXPECT_EQ(owner_name_from_folder(dir.path()), c.expected);
    }
}

TEST(OwnerName, EnvironmentComesFirst)
{
    OwnerEnv restore;
    ::setenv(kOwnerEnvVar, "EnvOwner", 1);
    EXPECT_EQ(owner_name_lookup(nullptr), "EnvOwner");

    // Unset or empty: the file beside the running program (here the test program).
    const std::filesystem::path beside =
        std::filesystem::read_symlink("/proc/self/exe").parent_path() / kOwnerFileName;
    write_bytes(beside.string(), "FileOwner\r\n");
    ::setenv(kOwnerEnvVar, "", 1);
    EXPECT_EQ(owner_name_lookup(nullptr), "FileOwner");
    ::unsetenv(kOwnerEnvVar);
    EXPECT_EQ(owner_name_lookup("/nonexistent/vekmrkenc"), "FileOwner");
    std::filesystem::remove(beside);
    EXPECT_EQ(owner_name_lookup(nullptr), "");
}
