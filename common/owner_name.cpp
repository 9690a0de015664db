#include "common/owner_name.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "common/config_words.h"

// The installation's configuration folder, fixed when the programs are built.
#ifndef VEKMRK_SYSCONFDIR
#define VEKMRK_SYSCONFDIR "/etc"
#endif

namespace {

// The folder of the running program: the target of /proc/self/exe where the system has it,
// otherwise the folder of argv0 made absolute. Empty when neither can be found.
std::filesystem::path running_program_folder(const char* argv0) {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && !self.empty()) {
        return self.parent_path();
    }
    if (argv0 == nullptr || *argv0 == '\0') {
        return {};
    }
    const std::filesystem::path absolute = std::filesystem::absolute(argv0, error);
    return error ? std::filesystem::path() : absolute.parent_path();
}

} // namespace

std::string owner_name_from_folder(const std::filesystem::path& folder) {
    std::ifstream file(folder / kOwnerFileName, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line)) {
        return {};
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::filesystem::path owner_name_system_folder() {
    return std::filesystem::path(VEKMRK_SYSCONFDIR) / "vekmrk";
}

std::vector<std::filesystem::path> owner_name_folders(const std::filesystem::path& program_folder) {
    std::vector<std::filesystem::path> folders;
    folders.push_back(program_folder);
    const std::filesystem::path relative =
        (program_folder / ".." / "etc" / "vekmrk").lexically_normal();
    folders.push_back(relative);
    const std::filesystem::path system = owner_name_system_folder().lexically_normal();
    if (system != relative) {
        folders.push_back(system);
    }
    return folders;
}

std::string owner_name_lookup(const char* argv0) {
    const char* from_environment = std::getenv(kOwnerEnvVar);
    if (from_environment != nullptr && *from_environment != '\0') {
        return from_environment;
    }
    const std::filesystem::path folder = running_program_folder(argv0);
    if (folder.empty()) {
        return {};
    }
    for (const std::filesystem::path& place : owner_name_folders(folder)) {
        std::string name = owner_name_from_folder(place);
        if (!name.empty()) {
            return name;
        }
    }
    return {};
}

std::string owner_name_problem(std::string_view name) {
    if (name.empty()) {
        return "No owner name is configured for the private layer: set the environment variable "
               "VEKMRK_OWNER, or write the name on the first line of vekmrk-owner.txt beside the "
               "programs, in ../etc/vekmrk/ from their folder, or in " +
               owner_name_system_folder().string() + "/.";
    }
    if (name.find_first_of(kConfigSeparators) != std::string_view::npos) {
        return "The owner name \"" + std::string(name) +
               "\" holds a blank, tab, line feed or one of [ ] ( ) , which cut a layer code "
               "apart: nobody else could read this private layer. Choose an owner name without "
               "them.";
    }
    return {};
}
