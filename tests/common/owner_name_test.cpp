#include "common/owner_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <vector>

#include "tests/support/files.h"

namespace {

// Sets or removes VEKMRK_OWNER for one test and restores it afterwards.
class OwnerEnv {
public:
    OwnerEnv() {
        if (const char* v = std::getenv(kOwnerEnvVar)) {
            m_saved = v;
        }
    }
    ~OwnerEnv() {
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

} // namespace

TEST(OwnerName, Problems) {
    EXPECT_EQ(owner_name_problem(""),
              "No owner name is configured for the private layer: set the environment variable "
              "VEKMRK_OWNER, or "
              "write the name on the first line of vekmrk-owner.txt beside the programs, in "
              "../etc/vekmrk/ from "
              "their folder, or in " VEKMRK_EXPECTED_SYSCONFDIR "/vekmrk/.");
    EXPECT_EQ(owner_name_problem("Vek Audio"), "The owner name \"Vek Audio\" holds a blank, tab, "
                                               "line feed or one of [ ] ( ) , which cut a layer "
                                               "code apart: nobody else could read this private "
                                               "layer. Choose an owner name without them.");
    for (const char* bad : {"a\tb", "a\nb", "[x", "x]", "(x", "x)", "a,b", " "}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(owner_name_problem(bad), "");
    }
    // Names that would key a layer nobody can name, or one that others share or read.
    const struct {
        std::string name;
        const char* reason;
    } refused[] = {
        {"public", "value of -layer"},
        {"private", "value of -layer"},
        {"-owner", "starts with \"-\""},
        {std::string("\xFF\xFE"
                     "A\0B\0",
                     6),
         "UTF-16"},
        {std::string("A\0B", 3), "NUL bytes"},
        {"ycianjkiuncopltq", "check mask 0"},
        {"@\x80", "hashes to 0"},
        {"VekAudioWatermarkStudioNorthEast", "only its last 31 bytes"},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.reason);
        EXPECT_NE(owner_name_problem(r.name).find(r.reason), std::string::npos)
            << owner_name_problem(r.name);
    }
    // The refusal of a long name gives the 31-byte ending that keys the same layer.
    const std::string long_name = "0123456789"
                                  "AbcdefghijklmnopqrstuvwxyzABCDE";
    EXPECT_NE(owner_name_problem(long_name).find("\"AbcdefghijklmnopqrstuvwxyzABCDE\""),
              std::string::npos);
    for (const char* good : {"abc", "VekTestOwner", "Soci\xC3\xA9t\xC3\xA9", "a-b_c.d",
                             "AbcdefghijklmnopqrstuvwxyzABCDE", "publicity", "x-"}) {
        SCOPED_TRACE(good);
        EXPECT_EQ(owner_name_problem(good), "");
    }
}

TEST(OwnerName, FirstLineOfTheFile) {
    fixture::TempDir dir;
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
        // A UTF-8 byte-order mark is no part of the name.
        {"\xEF\xBB\xBF"
         "abc\r\n",
         "abc"},
        {"\xEF\xBB\xBF", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content);
        fixture::write_file(dir.file(kOwnerFileName), c.content);
        EXPECT_EQ(owner_name_from_folder(dir.path()), c.expected);
    }
}

// Removes the files it was given when the test ends, also when an assertion stops it early.
class RemoveAtEnd {
public:
    explicit RemoveAtEnd(std::vector<std::filesystem::path> paths) : m_paths(std::move(paths)) {}
    ~RemoveAtEnd() {
        std::error_code ignored;
        for (const auto& p : m_paths) {
            std::filesystem::remove(p, ignored);
        }
    }
    RemoveAtEnd(const RemoveAtEnd&) = delete;
    RemoveAtEnd& operator=(const RemoveAtEnd&) = delete;

private:
    std::vector<std::filesystem::path> m_paths;
};

TEST(OwnerName, FoldersBesideTheProgramThenEtcThenTheSystem) {
    const std::filesystem::path system =
        std::filesystem::path(VEKMRK_EXPECTED_SYSCONFDIR) / "vekmrk";
    EXPECT_EQ(owner_name_system_folder(), system);

    const std::vector<std::filesystem::path> relocated = owner_name_folders("/opt/vek/bin");
    ASSERT_EQ(relocated.size(), 3u);
    EXPECT_EQ(relocated[0], "/opt/vek/bin");
    EXPECT_EQ(relocated[1], "/opt/vek/etc/vekmrk");
    EXPECT_EQ(relocated[2], system);

    // Installed where <bin>/../etc is the system folder itself: searched once.
    const std::filesystem::path installed_bin = system.parent_path().parent_path() / "bin";
    const std::vector<std::filesystem::path> installed = owner_name_folders(installed_bin);
    ASSERT_EQ(installed.size(), 2u);
    EXPECT_EQ(installed[0], installed_bin);
    EXPECT_EQ(installed[1], system);
}

TEST(OwnerName, EnvironmentComesFirstThenTheFirstFileWithAName) {
    OwnerEnv restore;
    // The running program is this test program: its folder and <folder>/../etc/vekmrk.
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    const std::filesystem::path etc = bin.parent_path() / "etc" / "vekmrk";
    const std::filesystem::path beside = bin / kOwnerFileName;
    const std::filesystem::path installed = etc / kOwnerFileName;
    std::filesystem::create_directories(etc);
    RemoveAtEnd cleanup({beside, installed, etc, etc.parent_path()});
    fixture::write_file(beside.string(), "FileOwner\r\n");
    fixture::write_file(installed.string(), "EtcOwner\n");

    ::setenv(kOwnerEnvVar, "EnvOwner", 1);
    EXPECT_EQ(owner_name_lookup(nullptr), "EnvOwner");

    // Unset or empty: the file beside the program comes before the one in ../etc/vekmrk.
    ::setenv(kOwnerEnvVar, "", 1);
    EXPECT_EQ(owner_name_lookup(nullptr), "FileOwner");
    ::unsetenv(kOwnerEnvVar);
    EXPECT_EQ(owner_name_lookup("/nonexistent/vekmrkenc"), "FileOwner");

    // A file whose first line is empty gives no name: the search goes on.
    fixture::write_file(beside.string(), "\r\nFileOwner\r\n");
    EXPECT_EQ(owner_name_lookup(nullptr), "EtcOwner");
    std::filesystem::remove(beside);
    EXPECT_EQ(owner_name_lookup(nullptr), "EtcOwner");

    std::filesystem::remove(installed);
    if (!std::filesystem::exists(owner_name_system_folder() / kOwnerFileName)) {
        EXPECT_EQ(owner_name_lookup(nullptr), "");
    }
}
