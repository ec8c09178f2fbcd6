// isoswm-udffs [--owner=PID:START] IMAGE MOUNTPOINT
//
// The FUSE server behind `hdiutil attach`: serves the UDF volume of IMAGE
// read-only at MOUNTPOINT until it is unmounted, or until the owner (the
// process with that pid and start time, see ProcessIdentity) ends. It says why
// it cannot start on stderr, and closes stderr once the kernel has come to it,
// which tells hdiutil that the mount is live. One thread serves: libudfread is
// not thread-safe; another only watches the owner.

#include "DiskImage.h"
#include "ProcessIdentity.h"
#include "RuntimeFolder.h"
#include "ServerRecord.h"
#include "UdfOperations.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// For the folder lock at the end, which an attach holds while it waits for
// its own server: the leftovers are cleared later by whoever claims the name.
constexpr int kFolderLockWaitMs = 5000;

struct Arguments {
    std::string imagePath;
    std::string mountPoint;
    std::optional<ProcessIdentity> owner;
};

std::optional<Arguments> parseArguments(int argc, char **argv)
{
    Arguments parsed;
    int next = 1;
    if (argc > 1 && std::strncmp(argv[1], "--owner=", 8) == 0) {
        ProcessIdentity owner;
        unsigned long long start = 0;
        char end = 0;
        if (std::sscanf(argv[1] + 8, "%d:%llu%c", &owner.pid, &start, &end) != 2 || owner.pid <= 0)
            return std::nullopt;
        owner.startTime = start;
        parsed.owner = owner;
        ++next;
    }
    if (argc - next != 2 || argv[next][0] != '/' || argv[next + 1][0] != '/')
        return std::nullopt;
    parsed.imagePath = argv[next];
    parsed.mountPoint = argv[next + 1];
    return parsed;
}

int fail(const std::string &reason, const std::string &lockPath)
{
    if (!lockPath.empty())
        unlink(lockPath.c_str());
    std::fprintf(stderr, "%s\n", reason.c_str());
    return 1;
}

// The lock says the server is alive; the record in it says who it is and
// whom it serves, for info and unmount.
bool claimLock(FileLock *alive, const Arguments &args, std::string *error)
{
    const std::string lockPath = RuntimeFolder::serverLockPath(args.mountPoint);
    if (!alive->open(lockPath, true)) {
        *error = lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (!alive->tryLock()) {
        *error = args.mountPoint + ": another server is using this mount point";
        return false;
    }
    const std::optional<ProcessIdentity> self = ProcessIdentity::of(getpid());
    const std::string text = self ? ServerRecord{*self, args.owner}.text() : std::string();
    if (ftruncate(alive->fd(), 0) != 0 ||
        write(alive->fd(), text.data(), text.size()) != ssize_t(text.size())) {
        *error = lockPath + ": " + std::strerror(errno);
        unlink(lockPath.c_str());
        return false;
    }
    return true;
}

bool loadImage(UdfServerState *state, const std::string &imagePath, std::string *error)
{
    state->image = UdfImage::open(imagePath, error);
    if (!state->image || !state->image->readTree(error))
        return false;
    struct stat imageStat;
    if (stat(imagePath.c_str(), &imageStat) == 0)
        state->imageTime = imageStat.st_mtim;
    state->uid = getuid();
    state->gid = getgid();
    return true;
}

fuse *newFileSystem(const std::string &imagePath, UdfServerState *state)
{
    char *options = nullptr;
    const std::string fsname = "fsname=" + imagePath;
    const std::string subtype = std::string("subtype=") + DiskImage::kSubtype;
    // The image path may hold commas and backslashes: escaped for the option parser.
    if (fuse_opt_add_opt(&options, "ro,nosuid,nodev,default_permissions") != 0 ||
        fuse_opt_add_opt(&options, subtype.c_str()) != 0 ||
        fuse_opt_add_opt_escaped(&options, fsname.c_str()) != 0)
        return nullptr;
    fuse_args args = FUSE_ARGS_INIT(0, nullptr);
    fuse_opt_add_arg(&args, DiskImage::kServerName);
    fuse_opt_add_arg(&args, "-o");
    fuse_opt_add_arg(&args, options);
    free(options);
    const fuse_operations operations = udfOperations();
    fuse *fs = fuse_new(&args, &operations, sizeof operations, state);
    fuse_opt_free_args(&args);
    return fs;
}

// Once the owner has ended, SIGTERM to the serving thread ends its loop
// (libfuse's handler). Sent again and again: one that comes just before the
// loop blocks in its read is missed. A pidfd wakes us at once; the polling
// is for kernels without pidfds.
void watchOwner(const ProcessIdentity &owner, int ownerFd, pthread_t loopThread)
{
    sigset_t all, previous;
    sigfillset(&all);
    // The watcher takes no signals: those sent to the server must reach the loop.
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    std::thread([owner, ownerFd, loopThread] {
        pollfd ended{ownerFd, POLLIN, 0};
        while (owner.isRunning())
            poll(&ended, ownerFd >= 0 ? 1 : 0, 1000);
        for (;;) {
            pthread_kill(loopThread, SIGTERM);
            usleep(250 * 1000);
        }
    }).detach();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int serve(fuse *fs, const Arguments &args, int ownerFd)
{
    if (fuse_mount(fs, args.mountPoint.c_str()) != 0)
        return -1;
    fuse_session *session = fuse_get_session(fs);
    fuse_set_signal_handlers(session);
    if (args.owner)
        watchOwner(*args.owner, ownerFd, pthread_self());
    // One thread: libudfread is not thread-safe, and more threads gained
    // nothing measurable (bench/fuse-throughput).
    const int result = fuse_loop(fs);
    fuse_remove_signal_handlers(session);
    fuse_unmount(fs);
    return result;
}

// Unmounted: take the mount point away, under the folder's lock so that a new
// attach does not claim it half-way.
void removeMountPoint(const std::string &mountPoint)
{
    FileLock folderLock;
    const bool held = folderLock.open(RuntimeFolder::folderLockPath(mountPoint), false) &&
                      folderLock.lockWithin(kFolderLockWaitMs);
    rmdir(mountPoint.c_str());
    unlink(RuntimeFolder::serverLockPath(mountPoint).c_str());
    if (held)
        RuntimeFolder::removeIfUnused(mountPoint);
}

} // namespace

int main(int argc, char **argv)
{
    const std::optional<Arguments> args = parseArguments(argc, argv);
    if (!args) {
        std::fprintf(stderr, "usage: %s [--owner=PID:START] /absolute/IMAGE /absolute/MOUNTPOINT\n",
                     DiskImage::kServerName);
        return 2;
    }
    // Our working folder must not keep any file system busy.
    if (chdir("/") != 0)
        return fail(std::string("/: ") + std::strerror(errno), std::string());
    const std::string lockPath = RuntimeFolder::serverLockPath(args->mountPoint);
    FileLock alive;
    std::string error;
    if (!claimLock(&alive, *args, &error))
        return fail(error, std::string());
    // Opened before the mount: an owner that ends from here on is noticed.
    const int ownerFd = args->owner ? args->owner->open() : -1;
    if (args->owner && !args->owner->isRunning())
        return fail("process " + std::to_string(args->owner->pid) + " has ended", lockPath);

    UdfServerState state;
    if (!loadImage(&state, args->imagePath, &error))
        return fail(args->imagePath + ": " + error, lockPath);
    fuse *fs = newFileSystem(args->imagePath, &state);
    if (!fs)
        return fail("the FUSE file system could not be set up", lockPath);
    const int result = serve(fs, *args, ownerFd);
    fuse_destroy(fs);
    if (result < 0)
        return fail(args->mountPoint + ": the FUSE mount failed", lockPath);
    removeMountPoint(args->mountPoint);
    state.image.reset();
    return result == 0 ? 0 : 1;
}
