#include "common/progress_log.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "common/platform.h"

namespace {

// Room for a packet line with any count and speed ("%.1f" of the largest double needs 310).
constexpr size_t kLineBytes = 400;

// Writes the status line, the packet line (may be empty) and the message line when given.
bool write_report(std::string_view path, int32_t status, const char* packet_line,
                  const char* message) noexcept {
    try {
        char status_line[32];
        std::snprintf(status_line, sizeof status_line, "%4d\n", static_cast<int>(status));
        std::string text = status_line;
        text += packet_line;
        if (message != nullptr) {
            text += message;
            text += '\n';
        }
        return progress_log_write_text(path, text);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// The decoder's packet line, which every one of its reports holds.
void decoder_packet_line(char (&line)[kLineBytes], int32_t packets, double speed) noexcept {
    std::snprintf(line, sizeof line, "%4d packet(s) decoded at an average of %.1fx\n",
                  static_cast<int>(packets), speed);
}

} // namespace

bool progress_log_write_text(std::string_view path, std::string_view text) noexcept {
    try {
        // The file's lines end with CR LF wherever it is written, so the line ends are spelled
        // out and the file is written in binary mode.
        std::string bytes;
        bytes.reserve(text.size() + 16);
        for (const char c : text) {
            if (c == '\n') {
                bytes += '\r';
            }
            bytes += c;
        }
        std::FILE* file = file_open(path, "wb");
        if (file == nullptr) {
            return false;
        }
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
        const bool closed = std::fclose(file) == 0;
        return written && closed;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool progress_log_write(std::string_view path, int32_t status, int32_t packets, double speed,
                        const char* message) noexcept {
    char line[kLineBytes] = "";
    if (packets > 0) {
        std::snprintf(line, sizeof line, "%d packets encoded at an average of %.1fx\n",
                      static_cast<int>(packets), speed);
    }
    return write_report(path, status, line, message);
}

bool progress_log_write_decoder(std::string_view path, int32_t status, int32_t packets,
                                double speed, const char* message) noexcept {
    char line[kLineBytes];
    decoder_packet_line(line, packets, speed);
    return write_report(path, status, line, message);
}

bool progress_log_write_summary(std::string_view path, std::string_view input, int32_t packets,
                                double speed, std::string_view entries) noexcept {
    try {
        char line[kLineBytes];
        decoder_packet_line(line, packets, speed);
        std::string text = "1000\nAnalysis summary for ";
        text += input;
        text += '\n';
        text += line;
        text += entries;
        return progress_log_write_text(path, text);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int32_t progress_percentage(int32_t frames_done, int32_t whole_seconds) noexcept {
    if (whole_seconds <= 0) {
        // An input shorter than one second is done once its only frame is.
        return frames_done >= 1 ? 100 : 0;
    }
    const double percent =
        std::trunc(static_cast<double>(frames_done) * 100.0 / static_cast<double>(whole_seconds));
    if (percent < 0.0) {
        return 0;
    }
    return percent > 999.0 ? 999 : static_cast<int32_t>(percent);
}
