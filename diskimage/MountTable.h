#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// This user's disk images mounted by our FUSE server, read from the kernel's
// mount table (/proc/self/mountinfo) with libmount, which decodes the escaped
// spaces and other characters. Nothing here looks at a mount point itself:
// a stalled FUSE server would hang any stat of it.
namespace MountTable {

struct Mount {
    std::string imagePath; // the FUSE fsname: the image's absolute path
    std::string mountPoint;
    dev_t device = 0; // names the FUSE connection and the readahead knob
};

// This user's mounts (the FUSE user_id is our uid, for root too) in the
// order they were made; false with a reason when the table cannot be read.
bool read(std::vector<Mount> *mounts, std::string *error);

// This user's mount at `path`: compared as given (trailing '/' aside) and,
// failing that, with links resolved in the folders above it. Nothing when
// there is none.
std::optional<Mount> find(const std::string &path, std::string *error);

} // namespace MountTable
