#include "common/owner_name.h"

#include <cstdio>
#include <system_error>

#include "common/config_words.h"
#include "common/platform.h"

namespace {

// The folder of the running program: where the system says its file is, otherwise the folder
// of argv0 made absolute. Empty when neither can be found.
std::filesystem::path running_program_folder(const char* argv0) {
    const std::filesystem::path self = running_program_path();
    if (!self.empty()) {
        return self.parent_path();
    }
    if (argv0 == nullptr || *argv0 == '\0') {
        return {};
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path_from_utf8(argv0), error);
    return error ? std::filesystem::path() : absolute.parent_path();
}

} // namespace

std::string owner_name_from_folder(const std::filesystem::path& folder) {
    std::FILE* file = file_open_path(folder / kOwnerFileName, "rb");
    if (file == nullptr) {
        return {};
    }
    std::string line;
    for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) {
        line += static_cast<char>(c);
    }
    std::fclose(file);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::filesystem::path owner_name_system_folder() {
    return machine_settings_folder() / "vekmrk";
}

std::vector<std::filesystem::path> owner_name_folders(const std::filesystem::path& program_folder) {
    std::vector<std::filesystem::path> folders;
    folders.push_back(program_folder);
#ifdef _WIN32
    // A Windows installation is one folder: the programs, then the machine's settings.
    folders.push_back(owner_name_system_folder());
#else
    const std::filesystem::path relative =
        (program_folder / ".." / "etc" / "vekmrk").lexically_normal();
    folders.push_back(relative);
    const std::filesystem::path system = owner_name_system_folder().lexically_normal();
    if (system != relative) {
        folders.push_back(system);
    }
#endif
    return folders;
}

std::string owner_name_lookup(const char* argv0) {
    std::string from_environment = environment_utf8(kOwnerEnvVar);
    if (!from_environment.empty()) {
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
        const std::string system = path_to_utf8(owner_name_system_folder());
#ifdef _WIN32
        const std::string places = " or in " + system + "\\.";
#else
        const std::string places = ", in ../etc/vekmrk/ from their folder, or in " + system + "/.";
#endif
        return "No owner name is configured for the private layer: set the environment variable "
               "VEKMRK_OWNER, or write the name on the first line of vekmrk-owner.txt beside the "
               "programs" +
               places;
    }
    if (name.find_first_of(kConfigSeparators) != std::string_view::npos) {
        return "The owner name \"" + std::string(name) +
               "\" holds a blank, tab, line feed or one of [ ] ( ) , which cut a layer code "
               "apart: nobody else could read this private layer. Choose an owner name without "
               "them.";
    }
    return {};
}
