#include "DiskImage.h"
#include "Names.h"
#include "RuntimeFolder.h"
#include "Subprocess.h"
#include "UdfImage.h"
#include "Unmounter.h"
#include "Verbs.h"

#include <cerrno>
#include <climits>
#include <csignal>
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
// FUSE read requests grow only as large as the readahead window.
constexpr const char *kReadaheadKiB = "1024";

int fail(const std::string &reason)
{
    std::fprintf(stderr, "hdiutil: attach failed - %s\n", reason.c_str());
    return 1;
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

bool isMountedOver(const std::string &mountPoint, const std::string &parent)
{
    struct stat inner, outer;
    return stat(mountPoint.c_str(), &inner) == 0 && stat(parent.c_str(), &outer) == 0 &&
           inner.st_dev != outer.st_dev;
}

// Bigger reads per FUSE request; only root may change the window, and a
// failure costs speed, nothing else.
void widenReadahead(const std::string &mountPoint)
{
    struct stat st;
    if (geteuid() != 0 || stat(mountPoint.c_str(), &st) != 0)
        return;
    const std::string knob = "/sys/class/bdi/" + std::to_string(major(st.st_dev)) + ':' +
                             std::to_string(minor(st.st_dev)) + "/read_ahead_kb";
    const int fd = open(knob.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    const ssize_t ignored = write(fd, kReadaheadKiB, std::strlen(kReadaheadKiB));
    (void)ignored;
    close(fd);
}

} // namespace

namespace Verbs {

int attach(const std::vector<std::string> &args)
{
    std::string imageArg;
    for (const std::string &arg : args) {
        // Options of the macOS tool that change nothing here.
        if (arg == "-readonly" || arg == "-nobrowse" || arg == "-noverify" ||
            arg == "-noautoopen" || arg == "-noautofsck" || arg == "-quiet")
            continue;
        if (!arg.empty() && arg[0] == '-')
            return fail("unknown option " + arg);
        if (!imageArg.empty())
            return fail("only one image can be attached at a time");
        imageArg = arg;
    }
    if (imageArg.empty())
        return fail("no image given (usage: hdiutil attach IMAGE)");

    const std::string imagePath = absoluteImagePath(imageArg);
    std::string error;
    std::string label;
    {
        std::unique_ptr<UdfImage> image = UdfImage::open(imagePath, &error);
        if (!image)
            return fail(imageArg + ": " + error);
        label = image->volumeLabel();
    }

    const std::string folder = RuntimeFolder::location();
    if (!RuntimeFolder::prepare(folder, &error))
        return fail(error);
    FileLock folderLock;
    if (!folderLock.open(folder + "/.lock", true) || !folderLock.lock())
        return fail(folder + "/.lock: " + std::strerror(errno));

    std::string mountPoint;
    if (!claimMountPoint(folder, Names::folderNameForLabel(label), &mountPoint, &error))
        return fail(error);

    const std::string server = Subprocess::ownDirectory() + '/' + DiskImage::kServerName;
    int serverErrors = -1;
    const pid_t pid = Subprocess::spawn({server, imagePath, mountPoint}, &serverErrors, true);
    if (pid < 0) {
        const int spawnError = errno;
        rmdir(mountPoint.c_str());
        return fail(std::string("cannot start the FUSE server: ") + std::strerror(spawnError));
    }
    // The server closes its error stream once the kernel has come to it for
    // the first time; until then it says why it cannot go on, if it cannot.
    bool timedOut = false;
    const std::string serverText =
        Subprocess::readToEnd(serverErrors, kServerStartTimeoutMs, &timedOut);
    int status = 0;
    const bool ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended && !timedOut && isMountedOver(mountPoint, folder)) {
        folderLock.close();
        widenReadahead(mountPoint);
        std::printf("%s\t\t%s\n", DiskImage::kDevEntry, mountPoint.c_str());
        return 0;
    }

    if (!ended) {
        kill(pid, SIGKILL);
        status = Subprocess::wait(pid);
    }
    std::string ignored;
    Unmounter::unmount(mountPoint, true, &ignored); // in case it got as far as the mount
    rmdir(mountPoint.c_str());
    unlink(RuntimeFolder::serverLockPath(mountPoint).c_str());
    std::string reason = Subprocess::firstLine(serverText);
    if (reason.empty())
        reason = timedOut ? std::string("the FUSE server did not answer in time")
                          : "the FUSE server " + Subprocess::describe(status);
    return fail(reason);
}

} // namespace Verbs
