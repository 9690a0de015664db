#include "common/output_file.h"
#include "common/platform.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

#include "common/signal_cleanup.h"
#include "common/system_calls.h"
#include "common/text_format.h"

namespace fs = std::filesystem;

namespace {

// Links followed before a chain of them counts as a loop, as the system itself counts.
constexpr int kMostLinks = 40;

// True when an existing file can be opened for writing (opened for update: nothing changes).
bool writable(const fs::path& path) {
    std::FILE* file = file_open_path(path, "r+b");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

// The file a path names once its links are followed, also when the last one points to nothing
// (that name is then created). Empty when the links form a loop or cannot be read.
std::optional<fs::path> follow_links(fs::path path) {
    std::error_code error;
    for (int hop = 0; hop < kMostLinks; ++hop) {
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            return path;
        const fs::path next = fs::read_symlink(path, error);
        if (error)
            return std::nullopt;
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return std::nullopt;
}

} // namespace

bool same_file(const std::string& utf8_a, const std::string& utf8_b) {
    const fs::path a = path_from_utf8(utf8_a);
    const fs::path b = path_from_utf8(utf8_b);
    std::error_code error;
    if (fs::exists(a, error) && fs::exists(b, error))
        return fs::equivalent(a, b, error);
    const fs::path full_a = fs::weakly_canonical(fs::absolute(a, error), error);
    if (error)
        return false;
    const fs::path full_b = fs::weakly_canonical(fs::absolute(b, error), error);
    return !error && full_a == full_b;
}

PendingOutput::~PendingOutput() {
    remove_temp();
}

void PendingOutput::remove_temp() {
    if (!temp_.empty()) {
        std::error_code error;
        fs::remove(temp_, error);
        temp_.clear();
    }
    signal_cleanup_drop(cleanup_slot_);
    cleanup_slot_ = -1;
}

bool PendingOutput::create(const std::string& output) {
    std::error_code error;
    const fs::path given = path_from_utf8(output);
    if (output.empty() || !given.has_filename()) {
        problem_ = output.empty() ? "The output path is empty: give the name of a file."
                                  : "The output path names a folder: give the name of a file.";
        return false;
    }
    // "-": standard output, written in place like a pipe once the whole output is ready.
    if (output == "-") {
        to_stdout_ = true;
        in_place_ = true;
        return create_temp(fs::temp_directory_path(error));
    }
    // A device or a pipe, reached directly or through links (/dev/stdout): written in place.
    const fs::file_status reached = fs::status(given, error);
    if (fs::is_character_file(reached) || fs::is_fifo(reached)) {
        target_ = given;
        in_place_ = true;
        return create_temp(fs::temp_directory_path(error));
    }
    const std::optional<fs::path> followed = follow_links(given);
    if (!followed) {
        problem_ = "The output path is a link that leads to no file (a loop of links).";
        return false;
    }
    target_ = *followed;
    const fs::file_status status = fs::symlink_status(target_, error);
    existed_ = fs::exists(status);
    if (fs::is_directory(status)) {
        problem_ = "The output path is a folder: give the name of a file.";
        return false;
    }
    if (existed_ && !fs::is_regular_file(status)) {
        problem_ = "The output path is a block device or a socket, which the program does not "
                   "write: give the name of a file.";
        return false;
    }
    if (existed_) {
        if (!writable(target_)) {
            problem_ = "The output file exists and cannot be written.";
            return false;
        }
        existing_permissions_ = status.permissions();
        existing_links_ = fs::hard_link_count(target_, error);
    }
    return create_temp(target_.has_parent_path() ? target_.parent_path() : fs::path("."));
}

bool PendingOutput::create_temp(const fs::path& folder) {
    static std::mt19937 draw{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            folder / text_format(".vekmrk-%08x.tmp", static_cast<unsigned>(draw()));
        SignalHold hold;
        // "x": fails when the name exists, so no other file is ever overwritten.
        std::FILE* file = file_open_path(candidate, "wbx");
        if (file != nullptr) {
            std::fclose(file);
            temp_ = candidate;
            cleanup_slot_ = signal_cleanup_add(path_to_utf8(temp_));
            return true;
        }
        if (errno != EEXIST)
            break;
    }
    problem_ = text_format("The folder %s does not exist or does not take new files.",
                           path_to_utf8(folder).c_str());
    return false;
}

bool PendingOutput::copy_into_target() {
    std::FILE* from = file_open_path(temp_, "rb");
    if (to_stdout_)
        terminal_binary_mode(stdout);
    std::FILE* to = from == nullptr ? nullptr : to_stdout_ ? stdout : file_open_path(target_, "wb");
    bool done = to != nullptr;
    std::array<char, 1 << 16> buffer;
    while (done) {
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), from);
        done = std::fwrite(buffer.data(), 1, got, to) == got && !std::ferror(from);
        if (got < buffer.size())
            break;
    }
    if (to != nullptr && (to_stdout_ ? std::fflush(to) : std::fclose(to)) != 0)
        done = false;
    if (from != nullptr)
        std::fclose(from);
    return done;
}

bool PendingOutput::commit() {
    std::error_code error;
    if (in_place_) {
        const bool copied = copy_into_target();
        remove_temp();
        if (!copied)
            problem_ = "The output could not be written in full.";
        return copied;
    }
    if (existed_) {
        const OwnerCopy owner = file_owner_copy(path_to_utf8(target_), path_to_utf8(temp_));
        if (existing_permissions_)
            fs::permissions(temp_, *existing_permissions_, fs::perm_options::replace, error);
        if (owner == OwnerCopy::NotKept)
            notes_ += text_format("-> %s now belongs to you: its owner or group could not be "
                                  "kept.\n",
                                  path_to_utf8(target_).c_str());
        if (existing_links_ > 1)
            notes_ += text_format("-> %s had %ju other hard link(s); they keep the previous "
                                  "contents.\n",
                                  path_to_utf8(target_).c_str(), existing_links_ - 1);
    }
    fs::rename(temp_, target_, error);
    if (error) {
        notes_.clear();
        problem_ = "The output could not be put in place.";
        remove_temp();
        return false;
    }
    temp_.clear();
    signal_cleanup_drop(cleanup_slot_);
    cleanup_slot_ = -1;
    return true;
}
