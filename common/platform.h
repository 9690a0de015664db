#pragma once
// Where the command-line programs meet the operating system's own forms of text. Inside the
// programs every path, argument and environment value is a UTF-8 string. On Windows the system
// speaks UTF-16: the command line is read once with the wide API, and paths become UTF-16 only
// here, at _wfopen and std::filesystem. Elsewhere the bytes pass through unchanged.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The program's arguments as UTF-8 strings, with a (count, values) view for code that takes
// argc and argv. Made once, at the start of main. On Windows the words come from the wide
// command line (the narrow argv has lost every character outside the ANSI code page), and the
// console shows UTF-8 output while the object lives; elsewhere they are argv as given.
class ProgramArguments {
public:
    ProgramArguments(int argc, char** argv);
    ~ProgramArguments();
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    int count() const noexcept { return static_cast<int>(words_.size()); }
    // count() pointers to the words, then a null pointer, as argv has.
    char** values() noexcept { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
    [[maybe_unused]] unsigned int console_code_page_ =
        0; // Windows: the code page to restore, 0 for none
};

// fopen for a UTF-8 path (_wfopen on Windows). The mode may hold "x" (fail when the file
// exists) on every system. Null when the file cannot be opened or the path is not valid UTF-8.
std::FILE* file_open(std::string_view utf8_path, const char* mode) noexcept;

// file_open for a path already in the system's form.
std::FILE* file_open_path(const std::filesystem::path& path, const char* mode) noexcept;

// fseek and ftell with 64-bit offsets (_fseeki64 and _ftelli64 on Windows, where long has 32
// bits and the standard pair fails past 2 GiB). file_seek is true on success; file_tell gives -1
// on failure.
bool file_seek(std::FILE* file, int64_t offset, int origin) noexcept;
int64_t file_tell(std::FILE* file) noexcept;

// The file-system path of a UTF-8 string, and back. On Windows a plain std::string would be
// read in the ANSI code page instead; elsewhere the bytes are kept as they are. path_from_utf8
// throws std::filesystem::filesystem_error for text that is not valid UTF-8 on Windows.
std::filesystem::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const std::filesystem::path& path);

// The value of an environment variable as UTF-8; empty when it is not set.
std::string environment_utf8(const char* name);

// False where std::atomic::wait can sleep through a notify: with the libstdc++ of MinGW-w64
// (GCC 12.2, which waits on a condition variable there) a waiting thread missed a notify now
// and then under Wine 8, and the program hung. Code that would hand work between threads by
// atomic waits, or std::barrier, stays on one thread there.
#if defined(__MINGW32__) && defined(__GLIBCXX__)
inline constexpr bool kAtomicWaitWorks = false;
#else
inline constexpr bool kAtomicWaitWorks = true;
#endif

// True when standard error is a terminal; false when it goes to a file or a pipe. The progress
// figure, rewritten in place with backspaces, is shown only there.
bool terminal_stderr_is_terminal() noexcept;

// Puts a standard stream in binary mode, so that the WAV bytes it carries when a file is named
// "-" stay as they are: Windows' text mode would turn LF into CR LF. Nothing elsewhere.
void terminal_binary_mode(std::FILE* stream) noexcept;

// The full path of the running program's file; empty when the system cannot tell.
std::filesystem::path running_program_path();

// The folder for settings shared by every user of the machine: %ProgramData% on Windows
// (C:\ProgramData when unset), the installation's configuration folder (/etc under /usr)
// elsewhere.
std::filesystem::path machine_settings_folder();
