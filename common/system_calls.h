#pragma once
// The few steps that need the system's own calls, in one place: what a signal handler may do
// to end a run (the standard library promises nothing it may call from a handler beyond
// std::signal, std::_Exit and lock-free atomics), and keeping the owner of a file that an
// output replaces (the standard library cannot read or set owners). On POSIX systems these use
// the system's calls (for the handler only those that POSIX lists as safe there); elsewhere they
// fall back on the standard library (on Windows a handler runs on a thread of its own, where
// that is sound) and leave ownership as the system makes it.

#include <cstddef>
#include <string>

// Removes the file; does nothing when it is not there. Safe in a signal handler.
void signal_safe_remove(const char* path) noexcept;

// Writes `size` bytes to a new file `temp` and renames it over `path`, unless `path` is there
// and is not a regular file (a link, a folder, a device, a pipe): the new file is then removed.
// Gives up quietly on any failure. Safe in a signal handler.
void signal_safe_replace(const char* temp, const char* path, const char* bytes,
                         size_t size) noexcept;

// Ends the program by this signal with the system's default action, so that its exit status
// reads 128 + n; where the system cannot, exits with 128 + n. Safe in a signal handler.
[[noreturn]] void signal_safe_end(int signal_number) noexcept;

enum class OwnerCopy {
    Same,    // the new file already had the old one's owner and group
    Kept,    // the new file was given the old one's owner and group
    NotKept, // they differ and the system did not let the program set them
};

// Gives the file `to` the owner and group of the file `from`, where the system allows.
OwnerCopy file_owner_copy(const std::string& from, const std::string& to) noexcept;
