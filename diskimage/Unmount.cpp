#include "MountTable.h"
#include "RuntimeFolder.h"
#include "Unmounter.h"
#include "Verbs.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long the FUSE server may take to close the image and go.
constexpr int kServerEndTimeoutMs = 60 * 1000;

int fail(const std::string &tool, const std::string &reason)
{
    std::fprintf(stderr, "%s: unmount failed - %s\n", tool.c_str(), reason.c_str());
    return 1;
}

bool sameFile(int fd, const std::string &path)
{
    struct stat open, named;
    return fstat(fd, &open) == 0 && stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace

namespace Verbs {

int unmount(const std::string &tool, const std::vector<std::string> &args)
{
    if (args.size() != 1 || args[0].empty())
        return fail(tool, "usage: " + tool + " unmount MOUNTPOINT");
    std::string error;
    const std::optional<MountTable::Mount> mount = MountTable::find(args[0], &error);
    if (!mount)
        return fail(tool, error.empty() ? args[0] + ": not a mounted disk image" : error);
    const std::string &mountPoint = mount->mountPoint;

    // Opened before the unmount, while the server surely still holds it: once
    // the lock is ours, the server has exited.
    const std::string serverLockPath = RuntimeFolder::serverLockPath(mountPoint);
    FileLock server;
    const bool haveServer = server.open(serverLockPath, false);

    if (!Unmounter::unmount(mountPoint, false, &error))
        return fail(tool, mountPoint + ": " + error);

    if (haveServer && !server.lockWithin(kServerEndTimeoutMs))
        return fail(tool, mountPoint + ": unmounted, but its FUSE server has not ended");

    FileLock folderLock;
    if (folderLock.open(RuntimeFolder::folderLockPath(mountPoint), false))
        folderLock.lock();
    rmdir(mountPoint.c_str());
    // Left behind only by a server that did not end by itself.
    if (haveServer && sameFile(server.fd(), serverLockPath))
        unlink(serverLockPath.c_str());

    if (tool == "diskutil")
        std::printf("Volume %s on %s unmounted\n",
                    std::filesystem::path(mountPoint).filename().c_str(), mountPoint.c_str());
    else
        std::printf("\"%s\" unmounted successfully.\n", mountPoint.c_str());
    return 0;
}

} // namespace Verbs
