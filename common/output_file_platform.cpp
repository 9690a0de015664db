#include "common/output_file_platform.h"

#if defined(__unix__) || defined(__APPLE__)
#include <sys/stat.h>
#include <unistd.h>

OwnerCopy file_owner_copy(const std::string& from, const std::string& to) noexcept {
    struct stat old_file {};
    struct stat new_file {};
    if (::stat(from.c_str(), &old_file) != 0 || ::stat(to.c_str(), &new_file) != 0) {
        return OwnerCopy::NotKept;
    }
    if (old_file.st_uid == new_file.st_uid && old_file.st_gid == new_file.st_gid) {
        return OwnerCopy::Same;
    }
    return ::chown(to.c_str(), old_file.st_uid, old_file.st_gid) == 0 ? OwnerCopy::Kept
                                                                       : OwnerCopy::NotKept;
}

#else

OwnerCopy file_owner_copy(const std::string&, const std::string&) noexcept {
    return OwnerCopy::Same;
}

#endif
