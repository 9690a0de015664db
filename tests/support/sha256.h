#pragma once
// SHA-256 of a byte string or a file, as lower-case hexadecimal, for comparing outputs with
// recorded checksums.

#include <cstdint>
#include <string>
#include <vector>

namespace fixture {

std::string sha256_hex(const std::vector<uint8_t>& bytes);
// A file that cannot be read counts as empty.
std::string sha256_file(const std::string& path);

} // namespace fixture
