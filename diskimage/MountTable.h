#pragma once

#include <optional>
#include <string>
#include <vector>

// The disk images mounted by our FUSE server, read from the kernel's mount
// table with libmount (which decodes the escaped spaces and other characters).
namespace MountTable {

struct Mount {
    std::string imagePath; // the FUSE fsname: the image's absolute path
    std::string mountPoint;
};

// Our mounts in the order they were made; false with a reason when the table
// cannot be read.
bool read(std::vector<Mount> *mounts, std::string *error);

// Our mount at `path`, compared as given (trailing '/' aside) and, failing
// that, with links resolved. Nothing when there is none.
std::optional<Mount> find(const std::string &path, std::string *error);

} // namespace MountTable
