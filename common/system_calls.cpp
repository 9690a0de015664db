#include "common/system_calls.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "common/platform.h"

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

void signal_safe_remove(const char* path) noexcept {
    ::unlink(path);
}

void signal_safe_replace(const char* temp, const char* path, const char* bytes,
                         size_t size) noexcept {
    const int fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, bytes + done, size - done);
        if (wrote <= 0) {
            break;
        }
        done += static_cast<size_t>(wrote);
    }
    struct stat existing {};
    const bool replaceable = ::lstat(path, &existing) != 0 || S_ISREG(existing.st_mode);
    if (::close(fd) != 0 || done != size || !replaceable || ::rename(temp, path) != 0) {
        ::unlink(temp);
    }
}

void signal_safe_end(int signal_number) noexcept {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    // Inside its own handler the signal is blocked until the handler returns: let it through.
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::_Exit(128 + signal_number);
}

OwnerCopy file_owner_copy(const std::string& from, const std::string& to) noexcept {
    struct stat old_file {};
    struct stat new_file {};
    if (::stat(from.c_str(), &old_file) != 0 || ::stat(to.c_str(), &new_file) != 0) {
        return OwnerCopy::NotKept;
    }
    if (old_file.st_uid == new_file.st_uid && old_file.st_gid == new_file.st_gid) {
        return OwnerCopy::Same;
    }
    return ::chown(to.c_str(), old_file.st_uid, old_file.st_gid) == 0 ? OwnerCopy::Kept
                                                                      : OwnerCopy::NotKept;
}

#else
#include <filesystem>
#include <system_error>

namespace {

// Removes a file named in UTF-8; does nothing on failure.
void remove_file(const char* path) noexcept {
    try {
        std::error_code error;
        std::filesystem::remove(path_from_utf8(path), error);
    } catch (...) {
    }
}

} // namespace

void signal_safe_remove(const char* path) noexcept {
    remove_file(path);
}

void signal_safe_replace(const char* temp, const char* path, const char* bytes,
                         size_t size) noexcept {
    std::FILE* file = file_open(temp, "wbx");
    if (file == nullptr) {
        return;
    }
    const bool written = std::fwrite(bytes, 1, size, file) == size;
    const bool closed = std::fclose(file) == 0;
    std::error_code error;
    std::filesystem::path target;
    std::filesystem::path from;
    try {
        target = path_from_utf8(path);
        from = path_from_utf8(temp);
    } catch (...) {
        remove_file(temp);
        return;
    }
    const std::filesystem::file_status existing = std::filesystem::symlink_status(target, error);
    const bool replaceable =
        !std::filesystem::exists(existing) || std::filesystem::is_regular_file(existing);
    if (!written || !closed || !replaceable) {
        remove_file(temp);
        return;
    }
    std::filesystem::rename(from, target, error);
    if (error) {
        remove_file(temp);
    }
}

void signal_safe_end(int signal_number) noexcept {
    std::_Exit(128 + signal_number);
}

OwnerCopy file_owner_copy(const std::string&, const std::string&) noexcept {
    return OwnerCopy::Same;
}

#endif
