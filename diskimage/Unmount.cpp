#include "MountTable.h"
#include "RuntimeFolder.h"
#include "ServerRecord.h"
#include "Unmounter.h"
#include "Verbs.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a server may take to close the image and go once its mount is
// gone; then it is ended, as it is ours and serves nothing any more.
constexpr int kServerEndGraceMs = 3000;
// For a server sent SIGKILL to be gone, and for the folder lock, which an
// attach holds while it waits for its own server.
constexpr int kShortWaitMs = 2000;

struct Request {
    std::string path;
    bool force = false;
};

int fail(const std::string &tool, const std::string &reason)
{
    std::fprintf(stderr, "%s: unmount failed - %s\n", tool.c_str(), reason.c_str());
    return 1;
}

std::optional<Request> parseArguments(const std::string &tool, const std::vector<std::string> &args)
{
    Request request;
    for (const std::string &arg : args) {
        // diskutil spells it without the dash.
        if (arg == "-force" || (tool == "diskutil" && arg == "force"))
            request.force = true;
        else if (arg.empty() || arg[0] == '-' || !request.path.empty())
            return std::nullopt;
        else
            request.path = arg;
    }
    return request.path.empty() ? std::nullopt : std::optional<Request>(request);
}

// A mount serves the process it was attached for; while that runs, only that
// process (our caller) unmounts it without -force.
std::optional<pid_t> heldByAnother(const std::optional<ServerRecord> &record)
{
    if (!record || !record->owner || record->owner->pid == getppid() || !record->owner->isRunning())
        return std::nullopt;
    return record->owner->pid;
}

// The connection goes first, so that nothing after it can hang on the mount,
// and anything stuck in it returns with an error.
void forceUnmount(const MountTable::Mount &mount, const std::optional<ServerRecord> &record)
{
    Unmounter::abortConnection(mount.device);
    if (record)
        record->server.kill(SIGKILL);
    std::string ignored; // gone already when the server ended by itself
    Unmounter::unmount(mount.mountPoint, true, &ignored);
}

// Once the server's lock is ours, the server has exited. A stuck server is
// killed: its mount is gone, so it can serve nothing.
bool serverEnded(FileLock &server, const std::optional<ServerRecord> &record, int graceMs)
{
    if (!server.isOpen() || server.lockWithin(graceMs))
        return true;
    return record && record->server.kill(SIGKILL) && server.lockWithin(kShortWaitMs);
}

void removeLeftovers(const std::string &mountPoint, const FileLock &server)
{
    FileLock folderLock;
    const bool held = folderLock.open(RuntimeFolder::folderLockPath(mountPoint), false) &&
                      folderLock.lockWithin(kShortWaitMs);
    rmdir(mountPoint.c_str());
    // Left behind only by a server that did not end by itself.
    const std::string serverLockPath = RuntimeFolder::serverLockPath(mountPoint);
    if (server.names(serverLockPath))
        unlink(serverLockPath.c_str());
    if (held)
        RuntimeFolder::removeIfUnused(mountPoint);
}

} // namespace

namespace Verbs {

int unmount(const std::string &tool, const std::vector<std::string> &args)
{
    const std::optional<Request> request = parseArguments(tool, args);
    if (!request)
        return fail(tool, "usage: " + tool + " unmount [-force] MOUNTPOINT");
    std::string error;
    const std::optional<MountTable::Mount> mount = MountTable::find(request->path, &error);
    if (!mount)
        return fail(tool, error.empty() ? request->path + ": not a mounted disk image" : error);
    const std::string &mountPoint = mount->mountPoint;

    // Opened before the unmount, while the server surely still holds it.
    const std::string serverLockPath = RuntimeFolder::serverLockPath(mountPoint);
    FileLock server;
    server.open(serverLockPath, false);
    const std::optional<ServerRecord> record = ServerRecord::read(serverLockPath);
    if (const std::optional<pid_t> owner = heldByAnother(record); owner && !request->force)
        return fail(tool, mountPoint + ": in use by process " + std::to_string(*owner) +
                              "; -force unmounts it anyway");

    if (request->force) {
        forceUnmount(*mount, record);
        serverEnded(server, record, kShortWaitMs);
    } else {
        if (!Unmounter::unmount(mountPoint, false, &error))
            return fail(tool, mountPoint + ": " + error);
        if (!serverEnded(server, record, kServerEndGraceMs))
            return fail(tool, mountPoint + ": unmounted, but its FUSE server has not ended");
    }
    removeLeftovers(mountPoint, server);

    if (tool == "diskutil")
        std::printf("Volume %s on %s unmounted\n",
                    std::filesystem::path(mountPoint).filename().c_str(), mountPoint.c_str());
    else
        std::printf("\"%s\" unmounted successfully.\n", mountPoint.c_str());
    return 0;
}

} // namespace Verbs
