#pragma once
// Files a run writes: the output that replaces its target only once complete, and the test
// that two paths name one file.
//
//   PendingOutput pending;                      // declared before the stream that writes it
//   if (!pending.create(output)) { /* exit 20, saying pending.problem() */ }
//   WavStreamPtr out = wav_open_write(pending.temp_path().string(), ...);
//   ... if (!wav_close(out.release()) || !pending.commit()) { /* exit 20 */ }
//   print pending.notes();                     // what the replaced file did not keep
//
// What the output path names decides how it is written:
//   - nothing, or a regular file: a temporary file beside it is renamed over it. A file it
//     replaces keeps its permission bits, and its owner and group where the system lets the
//     program set them; other hard links of the old file keep the old contents (said in
//     notes()).
//   - a link: what the link points to is written by these rules, and the link stays; a link to
//     nothing creates its target.
//   - a character device or a named pipe (/dev/null, /dev/stdout, a pipe's reader): written in
//     place, by copying the complete temporary file (kept in the system's temporary folder)
//     into it; never replaced.
//   - a folder, a block device or a socket: refused.
// Temporary files have short names of their own (".vekmrk-XXXXXXXX.tmp"), so that any output
// name the system takes works, and are registered with the signal cleanup, so that a signal
// never leaves one behind.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// True when both paths name one file: the same file through another spelling or a link, or,
// when either does not exist yet, the same place once both are spelled out in full.
bool same_file(const std::string& a, const std::string& b);

class PendingOutput {
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput();

    // Decides how `output` is written (see above) and creates an empty temporary file with a
    // fresh name. False, with problem() saying why, when the output cannot be written.
    bool create(const std::string& output);

    const std::filesystem::path& temp_path() const { return temp_; }

    // Why create or commit failed, as a sentence for the console; empty otherwise.
    const std::string& problem() const { return problem_; }

    // Puts the complete temporary file in place: renamed over the target (with the old file's
    // permissions, owner and group as far as they can be kept) or copied into the device or
    // pipe (for the output "-", into standard output). False when that fails; the temporary
    // file is then removed.
    bool commit();

    // After commit: what the replaced file did not keep, one line each (may be empty).
    const std::string& notes() const { return notes_; }

private:
    bool create_temp(const std::filesystem::path& folder);
    bool copy_into_target();
    void remove_temp();

    std::filesystem::path target_; // the file written: the output path with links followed
    std::filesystem::path temp_;
    int cleanup_slot_ = -1;
    bool in_place_ = false;  // a device or a pipe: copied into, never renamed over
    bool to_stdout_ = false; // the output "-": copied into standard output
    bool existed_ = false;
    std::optional<std::filesystem::perms> existing_permissions_;
    uintmax_t existing_links_ = 1;
    std::string problem_;
    std::string notes_;
};
