#pragma once
// The few steps a signal handler takes to end a run, in the one place that needs the system's
// own calls: the standard library promises nothing it may call from a handler beyond
// std::signal, std::_Exit and lock-free atomics. On POSIX systems these use the calls that
// POSIX lists as safe in a handler; elsewhere they fall back on the standard library (on
// Windows the handler runs on a thread of its own, where that is sound).

#include <cstddef>

// Removes the file; does nothing when it is not there.
void signal_safe_remove(const char* path) noexcept;

// Writes `size` bytes to a new file `temp` and renames it over `path`, unless `path` is there
// and is not a regular file (a link, a folder, a device, a pipe): the new file is then removed.
// Gives up quietly on any failure.
void signal_safe_replace(const char* temp, const char* path, const char* bytes,
                         size_t size) noexcept;

// Ends the program by this signal with the system's default action, so that its exit status
// reads 128 + n; where the system cannot, exits with 128 + n.
[[noreturn]] void signal_safe_end(int signal_number) noexcept;
