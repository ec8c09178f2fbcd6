#include "DiskImage.h"
#include "MountTable.h"
#include "Names.h"
#include "ProcessIdentity.h"
#include "RuntimeFolder.h"
#include "StopSignals.h"
#include "Subprocess.h"
#include "UdfImage.h"
#include "Unmounter.h"
#include "Verbs.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Long enough for a slow disk to give up the directory tree of a big image.
constexpr int kServerStartTimeoutMs = 120 * 1000;
constexpr int kMaxNameAttempts = 1000;
constexpr int kMaxFolderAttempts = 100;
// FUSE read requests grow only as large as the readahead window.
constexpr const char *kReadaheadKiB = "1024";

struct Request {
    std::string image;
    pid_t owner = 0; // whose end unmounts the image: our parent unless given
};

int fail(const std::string &reason)
{
    std::fprintf(stderr, "hdiutil: attach failed - %s\n", reason.c_str());
    return 1;
}

bool parseArguments(const std::vector<std::string> &args, Request *request, std::string *error)
{
    request->owner = getppid();
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        // Options of the macOS tool that change nothing here.
        if (arg == "-readonly" || arg == "-nobrowse" || arg == "-noverify" ||
            arg == "-noautoopen" || arg == "-noautofsck" || arg == "-quiet")
            continue;
        if (arg == "-owner" && i + 1 < args.size()) {
            char *end = nullptr;
            const long pid = std::strtol(args[++i].c_str(), &end, 10);
            if (pid <= 0 || pid > INT_MAX || *end != '\0') {
                *error = "-owner takes a process id, not " + args[i];
                return false;
            }
            request->owner = pid_t(pid);
            continue;
        }
        if (!arg.empty() && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        }
        if (!request->image.empty()) {
            *error = "only one image can be attached at a time";
            return false;
        }
        request->image = arg;
    }
    if (request->image.empty())
        *error = "no image given (usage: hdiutil attach [-owner PID] IMAGE)";
    return !request->image.empty();
}

// The image's absolute path as the caller wrote it: links are kept so that
// `info` names the image the way the caller knows it; only "." and ".."
// components are resolved, and ".." through the real folders.
std::string absoluteImagePath(const std::string &arg)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path absolute = fs::absolute(arg, ec);
    if (ec)
        return arg;
    for (const fs::path &part : absolute) {
        if (part == "..") {
            const fs::path canonical = fs::weakly_canonical(absolute, ec);
            return ec ? absolute.lexically_normal().string() : canonical.string();
        }
    }
    std::string normal = absolute.lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/')
        normal.pop_back();
    return normal;
}

// The runtime folder, made if needed, with its links resolved: the mount
// table names mount points that way, and we look for ours there.
bool prepareFolder(std::string *folder, std::string *error)
{
    char resolved[PATH_MAX];
    *folder = RuntimeFolder::location();
    if (!RuntimeFolder::prepare(*folder, error))
        return false;
    if (!realpath(folder->c_str(), resolved)) {
        *error = *folder + ": " + std::strerror(errno);
        return false;
    }
    *folder = resolved;
    return true;
}

// Takes the first free name "LABEL", "LABEL 1", ... and makes its folder. A
// name is free when no live server holds its lock and its folder is missing or
// an empty leftover that is no mount point (rmdir refuses those).
bool claimMountPoint(const std::string &folder, const std::string &base, std::string *mountPoint,
                     std::string *error)
{
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::string candidate = folder + '/' + Names::candidateFolderName(base, attempt);
        const std::string serverLock = RuntimeFolder::serverLockPath(candidate);
        FileLock server;
        if (server.open(serverLock, false)) {
            if (!server.tryLock())
                continue;
            unlink(serverLock.c_str()); // left by a server that died
        }
        if (mkdir(candidate.c_str(), 0700) == 0 ||
            (errno == EEXIST && rmdir(candidate.c_str()) == 0 &&
             mkdir(candidate.c_str(), 0700) == 0)) {
            *mountPoint = candidate;
            return true;
        }
    }
    *error = "no free mount point for " + base + " in " + folder;
    return false;
}

// Bigger reads per FUSE request; only root may change the window, and a
// failure costs speed, nothing else.
void widenReadahead(dev_t device)
{
    if (geteuid() != 0)
        return;
    const std::string knob = "/sys/class/bdi/" + std::to_string(major(device)) + ':' +
                             std::to_string(minor(device)) + "/read_ahead_kb";
    const int fd = open(knob.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t ignored = write(fd, kReadaheadKiB, std::strlen(kReadaheadKiB));
    (void)ignored;
    close(fd);
}

// Takes back what a failed attach made: the server, its mount if it got that
// far, the mount point folder and the server's lock.
void undo(pid_t runningServer, const std::string &mountPoint)
{
    if (runningServer > 0) {
        kill(runningServer, SIGKILL);
        Subprocess::wait(runningServer);
    }
    std::string ignored;
    if (MountTable::find(mountPoint, &ignored))
        Unmounter::unmount(mountPoint, true, &ignored);
    rmdir(mountPoint.c_str());
    unlink(RuntimeFolder::serverLockPath(mountPoint).c_str());
    RuntimeFolder::removeIfUnused(mountPoint); // the caller holds the folder's lock
}

// Starts the server and waits until its mount is live. The server closes its
// error stream once the kernel has come to it for the first time; until then
// it says why it cannot go on, if it cannot.
int serve(const std::string &imagePath, const std::string &mountPoint, const ProcessIdentity &owner)
{
    const StopSignals stop;
    const std::string server = Subprocess::ownDirectory() + '/' + DiskImage::kServerName;
    const std::string ownerArg =
        "--owner=" + std::to_string(owner.pid) + ':' + std::to_string(owner.startTime);
    int serverErrors = -1;
    const pid_t pid =
        Subprocess::spawn({server, ownerArg, imagePath, mountPoint}, &serverErrors, true);
    if (pid < 0) {
        const int spawnError = errno;
        rmdir(mountPoint.c_str());
        return fail(std::string("cannot start the FUSE server: ") + std::strerror(spawnError));
    }
    bool timedOut = false;
    const std::string serverText =
        Subprocess::readToEnd(serverErrors, kServerStartTimeoutMs, &timedOut, stop.fd());
    int status = 0;
    const bool ended = waitpid(pid, &status, WNOHANG) == pid;
    std::string error;
    const std::optional<MountTable::Mount> mount =
        ended || timedOut || stop.received() ? std::nullopt : MountTable::find(mountPoint, &error);
    if (mount) {
        widenReadahead(mount->device);
        std::printf("%s\t\t%s\n", DiskImage::kDevEntry, mountPoint.c_str());
        return 0;
    }
    undo(ended ? 0 : pid, mountPoint);
    if (stop.received())
        return fail("stopped by signal " + std::to_string(stop.received()) + " (" +
                    strsignal(stop.received()) + ")");
    std::string reason = Subprocess::firstLine(serverText);
    if (reason.empty())
        reason = timedOut ? std::string("the FUSE server did not answer in time")
                          : "the FUSE server " + Subprocess::describe(status);
    return fail(reason);
}

} // namespace

namespace Verbs {

int attach(const std::vector<std::string> &args)
{
    Request request;
    std::string error;
    if (!parseArguments(args, &request, &error))
        return fail(error);
    const std::optional<ProcessIdentity> owner = ProcessIdentity::of(request.owner);
    if (!owner)
        return fail("no process " + std::to_string(request.owner) + " to attach the image for");

    const std::string imagePath = absoluteImagePath(request.image);
    std::string label;
    {
        std::unique_ptr<UdfImage> image = UdfImage::open(imagePath, &error);
        if (!image)
            return fail(request.image + ": " + error);
        label = image->volumeLabel();
    }

    // Held until the mount is live or undone, so that no other attach takes the
    // name. The last unmount takes an unused folder away, lock file and all,
    // perhaps while we wait for the lock: then the folder is made again.
    std::string folder;
    FileLock folderLock;
    for (int attempt = 0;; ++attempt) {
        if (!prepareFolder(&folder, &error))
            return fail(error);
        const std::string lockPath = folder + "/.lock";
        const bool opened = folderLock.open(lockPath, true);
        if ((!opened && (errno != ENOENT || attempt == kMaxFolderAttempts)) ||
            (opened && !folderLock.lock()))
            return fail(lockPath + ": " + std::strerror(errno));
        // The state folder may have gone just before the lock file did.
        if (opened && folderLock.names(lockPath) && RuntimeFolder::prepare(folder, &error))
            break;
        if (attempt == kMaxFolderAttempts)
            return fail(lockPath + ": removed again and again while waiting for it");
    }
    std::string mountPoint;
    if (!claimMountPoint(folder, Names::folderNameForLabel(label), &mountPoint, &error))
        return fail(error);
    return serve(imagePath, mountPoint, *owner);
}

} // namespace Verbs
