// What the real programs do with hostile or unusual surroundings: a signal in the middle of a
// run, links, pipes and folders where files are expected, headers that claim thousands of
// channels, owner names that cannot key a layer of their own, and paths refused before any
// work is done.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/run_program.h"
#include "tests/support/wav_fixture.h"

namespace fs = std::filesystem;

namespace {

const std::string kEncoder = VEKMRKENC_PATH;
const std::string kDecoder = VEKMRKDEC_PATH;

std::string read_text(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool contains(const std::string& text, const std::string& words) {
    return text.find(words) != std::string::npos;
}

class Reliability : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::path(::testing::TempDir()) / "vekmrk-rel-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        input_ = path("in.wav");
        ASSERT_TRUE(
            fixture::write_wav(input_, fixture::settings(22050, 2, 3.0, fixture::Signal::Music)));
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir_, error);
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // The names in the work folder, sorted.
    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fixture::ProgramResult run(const std::string& program, const std::vector<std::string>& args,
                               const fixture::EnvChanges& env = {}) const {
        fixture::EnvChanges all = {{"VEKMRK_OWNER", std::nullopt}, {"TMPDIR", dir_.string()}};
        all.insert(all.end(), env.begin(), env.end());
        return fixture::run_program(program, args, all);
    }

    fs::path dir_;
    std::string input_;
};

TEST_F(Reliability, ASignalRemovesTheTemporaryFileAndEndsTheLog) {
    // A named pipe without a reader holds the encoder at its last step, with the whole output
    // in a temporary file (in TMPDIR, this folder): it cannot finish before the signal.
    const std::string output = path("out.wav");
    const std::string log = path("run.log");
    ASSERT_EQ(::mkfifo(output.c_str(), 0600), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGTERM, SIG_DFL);
        ::setenv("TMPDIR", dir_.c_str(), 1);
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        ::execl(kEncoder.c_str(), kEncoder.c_str(), "-logfile", log.c_str(), input_.c_str(), "0123",
                output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Waits until the log reports the run under way (a status of 0 to 999).
    bool running = false;
    for (int i = 0; i < 6000 && !running; ++i) {
        const std::string status = read_text(log).substr(0, 4);
        running = !status.empty() && status.find('-') == std::string::npos &&
                  std::stoi(status) >= 0 && std::stoi(status) < 1000;
        if (!running)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!running) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        FAIL() << "the run never reported progress: " << read_text(log);
    }
    ASSERT_EQ(::kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_TRUE(read_text(log).starts_with("-143\r\n")) << read_text(log);
    EXPECT_TRUE(fs::is_fifo(output));
    EXPECT_EQ(listing(), (std::vector<std::string>{"in.wav", "out.wav", "run.log"}));
}

TEST_F(Reliability, WritesPipesInPlaceFollowsLinksAndSaysWhatAReplacedFileKeeps) {
    const std::string expected = read_text(input_).substr(0, 4);
    // A pipe's reader gets the whole file; the pipe stays a pipe.
    const std::string pipe = path("pipe.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_text(pipe); });
    fixture::ProgramResult result = run(kEncoder, {input_, "0123", pipe});
    reader.join();
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(received.size(), fs::file_size(input_));
    EXPECT_TRUE(received.starts_with("RIFF"));

    // A link to nothing creates its target; the link stays.
    fs::create_directory(path("sub"));
    fs::create_symlink("sub/made.wav", path("dangling.wav"));
    result = run(kEncoder, {input_, "0123", path("dangling.wav")});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::is_symlink(path("dangling.wav")));
    EXPECT_EQ(fs::file_size(path("sub/made.wav")), fs::file_size(input_));

    // A file with a second name is replaced under the name given; the other name keeps the old
    // contents, and the encoder says so.
    fixture::write_file(path("old.wav"), "old");
    fs::create_hard_link(path("old.wav"), path("out.wav"));
    result = run(kEncoder, {input_, "0123", path("out.wav")});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(contains(result.err, "1 other hard link(s)")) << result.err;
    EXPECT_EQ(read_text(path("old.wav")), "old");
    EXPECT_EQ(fs::file_size(path("out.wav")), fs::file_size(input_));

    // A folder is refused with the reason, before any work.
    result = run(kEncoder, {input_, "0123", path("sub")});
    EXPECT_EQ(result.exit_code, 20);
    EXPECT_TRUE(contains(result.err, "is a folder")) << result.err;
    EXPECT_EQ(listing(), (std::vector<std::string>{"dangling.wav", "in.wav", "old.wav", "out.wav",
                                                   "pipe.wav", "sub"}));
}

TEST_F(Reliability, ALogPathThatIsNotARegularFileIsRefusedAndLeftAlone) {
    const std::string precious = path("out.wav");
    fixture::write_file(precious, "keep");
    fs::create_symlink("out.wav", path("link.log"));
    fs::create_symlink("made.txt", path("dangling.log"));
    ASSERT_EQ(::mkfifo(path("pipe.log").c_str(), 0600), 0);
    const std::pair<std::string, std::string> logs[] = {{"link.log", "symbolic link"},
                                                        {"dangling.log", "symbolic link"},
                                                        {"pipe.log", "named pipe"}};
    for (const auto& [name, reason] : logs) {
        SCOPED_TRACE(name);
        fixture::ProgramResult result =
            run(kEncoder, {"-logfile", path(name), input_, "0123", path("new.wav")});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_TRUE(contains(result.err, reason)) << result.err;
        result = run(kDecoder, {"-logfile", path(name), input_});
        EXPECT_EQ(result.exit_code, 1);
        EXPECT_TRUE(contains(result.err, reason)) << result.err;
    }
    EXPECT_EQ(read_text(precious), "keep");
    EXPECT_TRUE(fs::is_fifo(path("pipe.log")));
    EXPECT_EQ(listing(), (std::vector<std::string>{"dangling.log", "in.wav", "link.log", "out.wav",
                                                   "pipe.log"}));
}

TEST_F(Reliability, RefusesBeforeAnyWorkWhatCannotSucceed) {
    // A 44-byte header claiming 65535 channels: refused, whatever memory it would take.
    constexpr char kHeader[] = "RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\xff\xff\x22\x56\0\0"
                               "\0\0\0\0\0\0\x10\0data\0\0\0\0";
    const std::string header(kHeader, sizeof kHeader - 1);
    const std::string wide = path("wide.wav");
    fixture::write_file(wide, header);
    for (const auto& args : {std::vector<std::string>{wide},
                             std::vector<std::string>{wide, "0123", path("out.wav")}}) {
        const fixture::ProgramResult result = run(args.size() == 1 ? kDecoder : kEncoder, args);
        EXPECT_EQ(result.exit_code, 10);
        EXPECT_TRUE(contains(result.err, "65535 channels")) << result.err;
    }
    // An empty output path: refused at once, not after encoding the whole input.
    fixture::ProgramResult result = run(kEncoder, {input_, "0123", ""});
    EXPECT_EQ(result.exit_code, 20);
    EXPECT_TRUE(contains(result.err, "empty")) << result.err;
    EXPECT_FALSE(contains(result.err, "000%")) << result.err;
    // An output name of 250 bytes: the temporary file's name is short enough beside it.
    const std::string long_name = path(std::string(246, 'n') + ".wav");
    result = run(kEncoder, {input_, "0123", long_name});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_TRUE(fs::exists(long_name));
    // An owner name whose check mask is 0 would be read by the public layer.
    result = run(kEncoder, {"-layer", "private", input_, "0123", path("private.wav")},
                 {{"VEKMRK_OWNER", "ycianjkiuncopltq"}});
    EXPECT_EQ(result.exit_code, 4);
    EXPECT_TRUE(contains(result.err, "check mask 0")) << result.err;
    EXPECT_FALSE(fs::exists(path("private.wav")));
}

} // namespace
