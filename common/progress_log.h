#pragma once
// Progress log file: rewritten whole at every report, so that it always holds one complete
// report. First line: the status ("%4d"): 0 ... 999 running (percentage), 1000 and above
// finished, negative failed with exit code -status. Lines end with CR LF on every platform.
// A report that cannot be written is dropped: the return value only tells the caller.
//
// Each report is written to a new file beside the log and renamed over it, so that a reader
// finds either the previous report or the new one, never an empty or partial file, and the
// log is never written through a link: a log path that names anything but a regular file (a
// link, a folder, a device, a pipe) is left alone and the report dropped.

#include <cstdint>
#include <string>
#include <string_view>

enum class ProgressLogLayout {
    Encoder, // status; the packet line only when packets > 0; the message when given
    Decoder, // status and the packet line (always); the message when given
};

// Encoder layout.
bool progress_log_write(std::string_view path, int32_t status, int32_t packets, double speed,
                        const char* message) noexcept;

// Decoder layout.
bool progress_log_write_decoder(std::string_view path, int32_t status, int32_t packets,
                                double speed, const char* message) noexcept;

// Decoder final report: 1000, "Analysis summary for <input>", the packet line, then `entries`
// (one line per payload found, each ending in '\n').
bool progress_log_write_summary(std::string_view path, std::string_view input, int32_t packets,
                                double speed, std::string_view entries) noexcept;

// Writes text as the whole report, each '\n' written as CR LF.
bool progress_log_write_text(std::string_view path, std::string_view text) noexcept;

// The bytes of a report as they stand in the file (CR LF line ends).
std::string progress_log_bytes(ProgressLogLayout layout, int32_t status, int32_t packets,
                               double speed, const char* message);

// Why `path` cannot take a progress log, as a sentence for the console; empty when it can (it
// does not exist yet, or it is a regular file).
std::string progress_log_problem(std::string_view path);

// The percentage shown after `frames_done` one-second frames of an input of `whole_seconds`:
// frames_done * 100 / whole_seconds truncated, kept within 0 ... 999 (an input shorter than one
// second shows 100 once its only frame is done).
int32_t progress_percentage(int32_t frames_done, int32_t whole_seconds) noexcept;
