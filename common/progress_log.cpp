#include "common/progress_log.h"
#include "common/platform.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <new>
#include <random>
#include <system_error>
#include <thread>

#include "common/signal_cleanup.h"
#include "common/text_format.h"

namespace fs = std::filesystem;

namespace {

// A rename over the log fails while a reader holds it open on some systems (Windows): the
// reader lets go within milliseconds, so the rename is tried a few times.
constexpr int kRenameAttempts = 5;
constexpr auto kRenamePause = std::chrono::milliseconds(10);

std::string crlf(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size() + 16);
    for (const char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    return bytes;
}

// True when nothing is at `path` or a regular file is: only such a path is replaced.
bool replaceable(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !fs::exists(status) || fs::is_regular_file(status);
}

// Creates a new empty file with a fresh name in `folder`, registered for removal should a
// signal end the run. Empty when the folder refuses new files.
struct NewFile {
    fs::path path;
    std::FILE* file = nullptr;
    int slot = -1;
};
NewFile create_beside(const fs::path& folder) {
    static std::mt19937 draw{std::random_device{}()};
    for (int attempt = 0; attempt < 16; ++attempt) {
        NewFile created;
        created.path = folder / text_format(".vekmrk-log-%08x.tmp", static_cast<unsigned>(draw()));
        SignalHold hold;
        // "x": fails when the name exists, so no other file is ever overwritten.
        created.file = file_open_path(created.path, "wbx");
        if (created.file != nullptr) {
            created.slot = signal_cleanup_add(path_to_utf8(created.path));
            return created;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return {};
}

// The report's text with LF line ends: the status line, the packet line of the layout and the
// message line when given.
std::string report_for(ProgressLogLayout layout, int32_t status, int32_t packets, double speed,
                       const char* message) {
    std::string text = text_format("%4d\n", static_cast<int>(status));
    if (layout == ProgressLogLayout::Decoder) {
        text += text_format("%4d packet(s) decoded at an average of %.1fx\n",
                            static_cast<int>(packets), speed);
    } else if (packets > 0) {
        text += text_format("%d packets encoded at an average of %.1fx\n",
                            static_cast<int>(packets), speed);
    }
    if (message != nullptr) {
        text += message;
        text += '\n';
    }
    return text;
}

} // namespace

std::string progress_log_bytes(ProgressLogLayout layout, int32_t status, int32_t packets,
                               double speed, const char* message) {
    return crlf(report_for(layout, status, packets, speed, message));
}

bool progress_log_write_text(std::string_view path, std::string_view text) noexcept {
    try {
        const std::string bytes = crlf(text);
        const fs::path log = path_from_utf8(path);
        if (log.empty() || !replaceable(log)) {
            return false;
        }
        NewFile created = create_beside(log.has_parent_path() ? log.parent_path() : ".");
        if (created.file == nullptr) {
            return false;
        }
        const bool written =
            std::fwrite(bytes.data(), 1, bytes.size(), created.file) == bytes.size();
        bool done = std::fclose(created.file) == 0 && written;
        std::error_code error;
        for (int attempt = 0; done && attempt < kRenameAttempts; ++attempt) {
            // Checked again just before the rename: the path may have changed meanwhile.
            if (!replaceable(log)) {
                done = false;
                break;
            }
            fs::rename(created.path, log, error);
            if (!error) {
                break;
            }
            std::this_thread::sleep_for(kRenamePause);
        }
        done = done && !error;
        if (!done) {
            fs::remove(created.path, error);
        }
        signal_cleanup_drop(created.slot);
        return done;
    } catch (const std::exception&) {
        return false;
    }
}

bool progress_log_write(std::string_view path, int32_t status, int32_t packets, double speed,
                        const char* message) noexcept {
    try {
        return progress_log_write_text(
            path, report_for(ProgressLogLayout::Encoder, status, packets, speed, message));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool progress_log_write_decoder(std::string_view path, int32_t status, int32_t packets,
                                double speed, const char* message) noexcept {
    try {
        return progress_log_write_text(
            path, report_for(ProgressLogLayout::Decoder, status, packets, speed, message));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool progress_log_write_summary(std::string_view path, std::string_view input, int32_t packets,
                                double speed, std::string_view entries) noexcept {
    try {
        std::string text = report_for(ProgressLogLayout::Decoder, 1000, packets, speed, nullptr);
        // The summary line stands between the status line and the packet line.
        text.insert(text.find('\n') + 1, "Analysis summary for " + std::string(input) + "\n");
        text += entries;
        return progress_log_write_text(path, text);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::string progress_log_problem(std::string_view path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path_from_utf8(path), error);
    if (!fs::exists(status) || fs::is_regular_file(status)) {
        return {};
    }
    const char* what = fs::is_symlink(status)     ? "a symbolic link"
                       : fs::is_directory(status) ? "a folder"
                       : fs::is_fifo(status)      ? "a named pipe"
                                                  : "a device or another special file";
    return text_format("The log file %.*s is %s: the log replaces its file at every report and "
                       "is only written to a regular file or a new one. Give another path.",
                       static_cast<int>(path.size()), path.data(), what);
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
