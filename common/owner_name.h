#pragma once
// The installation's owner name, which keys the "private" layer of both programs.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kOwnerEnvVar = "VEKMRK_OWNER";
inline constexpr const char* kOwnerFileName = "vekmrk-owner.txt";

// The environment variable VEKMRK_OWNER when it is set and not empty; otherwise the first
// non-empty name that owner_name_from_folder finds in the folders of owner_name_folders for the
// folder of the running program (argv0 is used when the program's own path cannot be found).
// Empty when no place gives a name. The bytes are kept as they stand (no trimming, no
// re-encoding).
std::string owner_name_lookup(const char* argv0);

// The folders searched for vekmrk-owner.txt, in order, for a program in `program_folder`: that
// folder; `<program_folder>/../etc/vekmrk`, so that a relocated installation carries its own
// file; and the installed system folder `<sysconfdir>/vekmrk` (/etc/vekmrk for an installation
// under /usr) when it is not the same place.
std::vector<std::filesystem::path> owner_name_folders(const std::filesystem::path& program_folder);

// The system-wide folder that owner_name_folders ends with.
std::filesystem::path owner_name_system_folder();

// The first line of vekmrk-owner.txt in `folder`, its LF or CR LF ending and a leading UTF-8
// byte-order mark removed; empty when the file does not exist or cannot be read. The file half
// of owner_name_lookup. Other bytes are kept, so that owner_name_problem can refuse them.
std::string owner_name_from_folder(const std::filesystem::path& folder);

// Only the last kOwnerNameMaxBytes bytes of a text change its hash (each byte is shifted out
// of the 31-bit hash 31 bytes later), so a longer owner name would share its layer with every
// name that ends in the same 31 bytes.
inline constexpr size_t kOwnerNameMaxBytes = 31;

// Why this owner name cannot key a private layer, as sentences for the console; empty when it
// can. Refused: an empty name; UTF-16 text or NUL bytes; a separator of the configuration
// grammar (blank, tab, line feed, "[", "]", "(", ")", ","); "public", "private" or a leading
// "-", which a reader could not give as a layer code; more than kOwnerNameMaxBytes bytes; and
// a name whose seed is 0 or whose check mask is 0, which the public layer would read.
std::string owner_name_problem(std::string_view name);
