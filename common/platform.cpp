#include "common/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

// The installation's configuration folder, fixed when the programs are built.
#ifndef VEKMRK_SYSCONFDIR
#define VEKMRK_SYSCONFDIR "/etc"
#endif

#ifdef _WIN32

namespace {

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf8_from_wide(const wchar_t* wide) {
    const int length = static_cast<int>(std::wcslen(wide));
    if (length == 0) {
        return {};
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), bytes, nullptr, nullptr);
    return text;
}

// errno for the reason CreateFileW gave, as fopen would set it.
int errno_of(DWORD error) {
    switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    default:
        return EIO;
    }
}

} // namespace

ProgramArguments::ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i) {
            words_.push_back(utf8_from_wide(wide[i]));
        }
        LocalFree(wide);
    } else {
        words_.assign(argv, argv + argc);
    }
    for (std::string& word : words_) {
        pointers_.push_back(word.data());
    }
    pointers_.push_back(nullptr);
    // Messages name files in UTF-8; a console window shows them in its own code page otherwise.
    const UINT code_page = GetConsoleOutputCP();
    if (code_page != 0 && code_page != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        console_code_page_ = code_page;
    }
}

ProgramArguments::~ProgramArguments() {
    if (console_code_page_ != 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        SetConsoleOutputCP(console_code_page_);
    }
}

// Opened with CreateFileW rather than _wfopen, to share the file for deleting as well: a file
// that the program holds open can then still be removed, which the signal cleanup does from
// its own thread while the main thread is writing (the name goes when the last handle closes).
std::FILE* file_open_path(const std::filesystem::path& path, const char* mode) noexcept {
    const bool update = std::strchr(mode, '+') != nullptr;
    const bool exclusive = std::strchr(mode, 'x') != nullptr;
    DWORD access = 0;
    DWORD disposition = 0;
    int flags = std::strchr(mode, 'b') != nullptr ? _O_BINARY : _O_TEXT;
    switch (mode[0]) {
    case 'r':
        access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
        disposition = OPEN_EXISTING;
        flags |= update ? _O_RDWR : _O_RDONLY;
        break;
    case 'w':
        access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
        disposition = exclusive ? CREATE_NEW : CREATE_ALWAYS;
        flags |= update ? _O_RDWR : _O_WRONLY;
        break;
    case 'a':
        access = update ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
        disposition = exclusive ? CREATE_NEW : OPEN_ALWAYS;
        flags |= (update ? _O_RDWR : _O_WRONLY) | _O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    std::wstring wide_mode;
    for (const char* c = mode; *c != '\0' && wide_mode.size() < 8; ++c) {
        if (*c != 'x') {
            wide_mode += static_cast<wchar_t>(*c);
        }
    }
    const HANDLE handle =
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errno = errno_of(GetLastError());
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
        return nullptr;
    }
    std::FILE* file = _wfdopen(fd, wide_mode.c_str());
    if (file == nullptr) {
        const int error = errno;
        _close(fd);
        errno = error;
    }
    return file;
}

bool file_seek(std::FILE* file, int64_t offset, int origin) noexcept {
    return _fseeki64(file, offset, origin) == 0;
}

int64_t file_tell(std::FILE* file) noexcept {
    return _ftelli64(file);
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string path_to_utf8(const std::filesystem::path& path) {
    return utf8_from_wide(path.c_str());
}

std::string environment_utf8(const char* name) {
    const std::wstring wide_name(name, name + std::strlen(name));
    const wchar_t* value = _wgetenv(wide_name.c_str());
    return value != nullptr ? utf8_from_wide(value) : std::string();
}

bool terminal_stderr_is_terminal() noexcept {
    return _isatty(_fileno(stderr)) != 0;
}

void terminal_binary_mode(std::FILE* stream) noexcept {
    _setmode(_fileno(stream), _O_BINARY);
}

std::filesystem::path running_program_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path machine_settings_folder() {
    const wchar_t* program_data = _wgetenv(L"ProgramData");
    if (program_data == nullptr || *program_data == L'\0') {
        return std::filesystem::path(L"C:\\ProgramData");
    }
    return std::filesystem::path(program_data);
}

#else

ProgramArguments::ProgramArguments(int argc, char** argv) : words_(argv, argv + argc) {
    for (std::string& word : words_) {
        pointers_.push_back(word.data());
    }
    pointers_.push_back(nullptr);
}

ProgramArguments::~ProgramArguments() = default;

std::FILE* file_open_path(const std::filesystem::path& path, const char* mode) noexcept {
    return std::fopen(path.c_str(), mode);
}

bool file_seek(std::FILE* file, int64_t offset, int origin) noexcept {
    if (offset < std::numeric_limits<long>::min() || offset > std::numeric_limits<long>::max()) {
        return false;
    }
    return std::fseek(file, static_cast<long>(offset), origin) == 0;
}

int64_t file_tell(std::FILE* file) noexcept {
    return std::ftell(file);
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    return std::filesystem::path(std::string(utf8));
}

std::string path_to_utf8(const std::filesystem::path& path) {
    return path.string();
}

std::string environment_utf8(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool terminal_stderr_is_terminal() noexcept {
    return isatty(fileno(stderr)) != 0;
}

void terminal_binary_mode(std::FILE*) noexcept {}

std::filesystem::path running_program_path() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self;
}

std::filesystem::path machine_settings_folder() {
    return std::filesystem::path(VEKMRK_SYSCONFDIR);
}

#endif

std::FILE* file_open(std::string_view utf8_path, const char* mode) noexcept {
    try {
        return file_open_path(path_from_utf8(utf8_path), mode);
    } catch (...) {
        return nullptr;
    }
}
