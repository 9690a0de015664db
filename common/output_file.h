#pragma once
// Files a run writes: the output that replaces its target only once complete, and the test
// that two paths name one file.
//
//   PendingOutput pending;                      // declared before the stream that writes it
//   if (!pending.create(output)) { /* exit 20 */ }
//   WavStreamPtr out = wav_open_write(pending.temp_path().string(), ...);
//   ... if (!wav_close(out.release()) || !pending.commit()) { /* exit 20 */ }

#include <filesystem>
#include <optional>
#include <string>

// True when both paths name one file: the same file through another spelling or a link, or,
// when either does not exist yet, the same place once both are spelled out in full.
bool same_file(const std::string& a, const std::string& b);

// The output is written into a temporary file beside the file it replaces, which is renamed over
// that file only once it is complete: a failed run leaves no half-written output and keeps an
// existing file of that name intact. The temporary file is removed unless committed.
class PendingOutput {
public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput();

    // Picks the file to replace (the target of a link, so that the link survives) and creates an
    // empty temporary file with a fresh name in its folder. False when that is impossible: the
    // target is a folder or not writable, or the folder refuses new files.
    bool create(const std::string& output);

    const std::filesystem::path& temp_path() const { return temp_; }

    // Moves the complete temporary file over the target, with the permissions of the file it
    // replaces. False when the rename fails; the temporary file is then removed.
    bool commit();

private:
    std::filesystem::path target_;
    std::filesystem::path temp_;
    std::optional<std::filesystem::perms> existing_permissions_;
};
