#include "common/owner_name.h"

#include <cstdint>
#include <cstdio>
#include <system_error>

#include "common/config_words.h"
#include "common/platform.h"

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

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
    // Editors that save "UTF-8 with BOM" put these three bytes first; they are no part of the
    // name, and hashing them would key another layer than the one the owner sees.
    if (line.starts_with(kUtf8ByteOrderMark)) {
        line.erase(0, kUtf8ByteOrderMark.size());
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
    // The text is shown only once it is known to hold no NUL byte.
    if (name.starts_with("\xFF\xFE") || name.starts_with("\xFE\xFF")) {
        return "The owner name is UTF-16 text: save vekmrk-owner.txt as UTF-8, or as plain "
               "ASCII.";
    }
    if (name.find('\0') != std::string_view::npos) {
        return "The owner name holds NUL bytes (is vekmrk-owner.txt saved as UTF-16?): save it "
               "as UTF-8, or as plain ASCII.";
    }
    const std::string quoted = "The owner name \"" + std::string(name) + "\"";
    // These characters separate the words and lists of the configuration text.
    if (name.find_first_of(kConfigSeparators) != std::string_view::npos) {
        return quoted + " holds a blank, tab, line feed or one of [ ] ( ) , which cut a layer "
                        "code apart: nobody else could read this private layer. Choose an owner "
                        "name without them.";
    }
    if (name == "public" || name == "private") {
        return quoted + " is a value of -layer itself: nobody could give it as a layer code. "
                        "Choose another owner name.";
    }
    if (name.front() == '-') {
        return quoted + " starts with \"-\" and would read as an option: nobody could give it "
                        "as a layer code. Choose an owner name that starts otherwise.";
    }
    if (name.size() > kOwnerNameMaxBytes) {
        const std::string_view ending = name.substr(name.size() - kOwnerNameMaxBytes);
        return quoted + " is " + std::to_string(name.size()) +
               " bytes long, but only its last 31 bytes key the layer, so every name that ends "
               "in them shares it. Choose an owner name of at most 31 bytes (\"" +
               std::string(ending) + "\" keys the same layer as this one).";
    }
    const LayerKey key = layer_key(name);
    if (key.seed == 0) {
        return quoted + " hashes to 0, the public layer's chip waveform: anybody could find its "
                        "marks. Choose another owner name.";
    }
    if (key.check_mask == 0) {
        return quoted + " gives the check mask 0, so the public layer would read its private "
                        "marks. Choose another owner name.";
    }
    return {};
}
