#pragma once
// File ownership, which the standard library does not reach: the one place that needs the
// system's own calls to keep the owner of a file that an output replaces. On systems without
// them ownership is left as the system makes it.

#include <string>

enum class OwnerCopy {
    Same,    // the new file already had the old one's owner and group
    Kept,    // the new file was given the old one's owner and group
    NotKept, // they differ and the system did not let the program set them
};

// Gives the file `to` the owner and group of the file `from`, where the system allows.
OwnerCopy file_owner_copy(const std::string& from, const std::string& to) noexcept;
