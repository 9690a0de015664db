#include "common/output_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <system_error>

#include "common/platform.h"
#include "common/text_format.h"

namespace fs = std::filesystem;

namespace {

// True when an existing file can be opened for writing (opened for update: nothing changes).
bool writable(const std::filesystem::path& path) {
    std::FILE* file = file_open_path(path, "r+b");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
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
    if (!temp_.empty()) {
        std::error_code error;
        fs::remove(temp_, error);
    }
}

bool PendingOutput::create(const std::string& output) {
    std::error_code error;
    target_ = path_from_utf8(output);
    if (fs::is_symlink(fs::symlink_status(target_, error)) && fs::exists(target_, error)) {
        target_ = fs::canonical(target_, error);
        if (error)
            return false;
    }
    const bool exists = fs::exists(target_, error);
    if (exists) {
        if (fs::is_directory(target_, error) || !writable(target_))
            return false;
        existing_permissions_ = fs::status(target_, error).permissions();
    }
    const fs::path folder = target_.has_parent_path() ? target_.parent_path() : fs::path(".");
    std::random_device entropy;
    std::mt19937_64 draw((static_cast<uint64_t>(entropy()) << 32) ^
                         static_cast<uint64_t>(std::time(nullptr)));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            folder / text_format(".%s.vekmrk-%08llx.tmp", path_to_utf8(target_.filename()).c_str(),
                                 static_cast<unsigned long long>(draw() & 0xFFFFFFFFu));
        // "x": fails when the name exists, so no other file is ever overwritten.
        std::FILE* file = file_open_path(candidate, "wbx");
        if (file != nullptr) {
            std::fclose(file);
            temp_ = candidate;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

bool PendingOutput::commit() {
    std::error_code error;
    if (existing_permissions_)
        fs::permissions(temp_, *existing_permissions_, fs::perm_options::replace, error);
    fs::rename(temp_, target_, error);
    if (error)
        return false;
    temp_.clear();
    return true;
}
