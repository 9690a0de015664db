#pragma once
// Files for tests: a temporary folder per test, and whole files read and written as bytes.

#include <filesystem>
#include <string>
#include <string_view>

namespace fixture {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(std::string_view name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string& path);

// Replaces the file with `bytes`; false when it cannot be written.
bool write_file(const std::string& path, std::string_view bytes);

} // namespace fixture
