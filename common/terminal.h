#pragma once
// The two things the command-line programs need from the system beyond the C++ standard
// library: whether standard error is a terminal (the progress figure, rewritten in place with
// backspaces, is shown only there), and binary mode for standard input and output, which carry
// WAV bytes when a file is named "-". This file is the only place that asks the system.

#include <cstdio>

// True when standard error is a terminal; false when it goes to a file or a pipe, and on a
// system this file does not know.
bool terminal_stderr_is_terminal() noexcept;

// Puts a standard stream in binary mode where text mode would change its bytes (Windows); a
// no-op elsewhere.
void terminal_binary_mode(std::FILE* stream) noexcept;
