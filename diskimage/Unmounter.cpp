#include "Unmounter.h"

#include "Subprocess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Unmounter {

bool unmount(const std::string &mountPoint, bool lazy, std::string *error)
{
    if (geteuid() == 0) {
        if (umount2(mountPoint.c_str(), UMOUNT_NOFOLLOW | (lazy ? MNT_DETACH : 0)) == 0)
            return true;
        *error = std::strerror(errno);
        return false;
    }
    const std::string fusermount =
        Subprocess::findProgram("fusermount3", {"/usr/bin/fusermount3", "/bin/fusermount3"});
    if (fusermount.empty()) {
        *error = "fusermount3 is not installed";
        return false;
    }
    std::vector<std::string> argv{fusermount, "-u"};
    if (lazy)
        argv.push_back("-z");
    argv.push_back("--");
    argv.push_back(mountPoint);
    int errors = -1;
    const pid_t pid = Subprocess::spawn(argv, &errors, false);
    if (pid < 0) {
        *error = std::string("cannot start fusermount3: ") + std::strerror(errno);
        return false;
    }
    const std::string text = Subprocess::readToEnd(errors);
    const int status = Subprocess::wait(pid);
    if (status == 0)
        return true;
    *error = Subprocess::firstLine(text);
    if (error->empty())
        *error = "fusermount3 " + Subprocess::describe(status);
    return false;
}

bool abortConnection(dev_t device)
{
    // The connection folder is named by the kernel's device number, which
    // is the minor alone for the anonymous devices FUSE mounts get.
    if (major(device) != 0)
        return false;
    const std::string abort =
        "/sys/fs/fuse/connections/" + std::to_string(minor(device)) + "/abort";
    const int fd = open(abort.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, "1", 1) == 1;
    close(fd);
    return written;
}

} // namespace Unmounter
