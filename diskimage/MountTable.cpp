#include "MountTable.h"

#include "DiskImage.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <libmount.h>

namespace MountTable {

bool read(std::vector<Mount> *mounts, std::string *error)
{
    mounts->clear();
    libmnt_table *table = mnt_new_table();
    if (!table) {
        *error = "cannot read the mount table: out of memory";
        return false;
    }
    // mountinfo rather than the mtab merge: no utab locking, and it is what
    // the kernel really has.
    const int parsed = mnt_table_parse_file(table, "/proc/self/mountinfo");
    if (parsed != 0) {
        *error = std::string("cannot read the mount table: ") + std::strerror(-parsed);
        mnt_unref_table(table);
        return false;
    }
    libmnt_iter *iter = mnt_new_iter(MNT_ITER_FORWARD);
    libmnt_fs *fs = nullptr;
    while (iter && mnt_table_next_fs(table, iter, &fs) == 0) {
        const char *type = mnt_fs_get_fstype(fs);
        const char *source = mnt_fs_get_source(fs);
        const char *target = mnt_fs_get_target(fs);
        if (type && source && target && std::strcmp(type, DiskImage::kFsType) == 0)
            mounts->push_back({source, target});
    }
    mnt_free_iter(iter);
    mnt_unref_table(table);
    return true;
}

std::optional<Mount> find(const std::string &path, std::string *error)
{
    std::vector<Mount> mounts;
    if (!read(&mounts, error))
        return std::nullopt;
    std::string given = path;
    while (given.size() > 1 && given.back() == '/')
        given.pop_back();
    // Backwards: the latest mount on a path is the one that is visible there.
    for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
        if (it->mountPoint == given)
            return *it;
    }
    // A live mount resolves; a dead one (server gone) only matches as given.
    char resolved[PATH_MAX];
    if (realpath(given.c_str(), resolved)) {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
            if (it->mountPoint == resolved)
                return *it;
        }
    }
    return std::nullopt;
}

} // namespace MountTable
