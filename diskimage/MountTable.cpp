#include "MountTable.h"

#include "DiskImage.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <libmount.h>
#include <unistd.h>

namespace MountTable {

namespace {

bool isOurs(libmnt_fs *fs)
{
    const char *type = mnt_fs_get_fstype(fs);
    char *value = nullptr;
    size_t size = 0;
    if (!type || std::strcmp(type, DiskImage::kFsType) != 0 ||
        mnt_fs_get_option(fs, "user_id", &value, &size) != 0 || !value)
        return false;
    return std::string(value, size) == std::to_string(getuid());
}

// The path with "." and ".." gone and links resolved in its folders, but not
// in its last component, the mount point itself: resolving that would stat it.
std::string resolveFolders(const std::string &path)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec).lexically_normal();
    char resolved[PATH_MAX];
    if (ec || !absolute.has_filename() || !realpath(absolute.parent_path().c_str(), resolved))
        return std::string();
    return (fs::path(resolved) / absolute.filename()).string();
}

} // namespace

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
        const char *source = mnt_fs_get_source(fs);
        const char *target = mnt_fs_get_target(fs);
        if (source && target && isOurs(fs))
            mounts->push_back({source, target, mnt_fs_get_devno(fs)});
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
    // As given first: a mount point named as listed costs no system call.
    const auto match = [&](const std::string &candidate) -> std::optional<Mount> {
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
            if (it->mountPoint == candidate)
                return *it;
        }
        return std::nullopt;
    };
    if (std::optional<Mount> mount = match(given))
        return mount;
    const std::string resolved = resolveFolders(given);
    if (!resolved.empty())
        return match(resolved);
    return std::nullopt;
}

} // namespace MountTable
