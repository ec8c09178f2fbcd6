#include "RuntimeFolder.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace RuntimeFolder {

namespace {

bool preparePrivateFolder(const std::string &path, std::string *error)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    // Someone else's folder (or a link planted in /tmp) must not take our mounts.
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
        *error = path + ": not a private folder of this user";
        return false;
    }
    if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string parentOf(const std::string &mountPoint)
{
    return std::filesystem::path(mountPoint).parent_path().string();
}

std::string nameOf(const std::string &mountPoint)
{
    return std::filesystem::path(mountPoint).filename().string();
}

} // namespace

std::string location()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::string(runtime) + "/isoswm";
    if (geteuid() == 0)
        return "/run/isoswm";
    return "/tmp/isoswm-" + std::to_string(geteuid());
}

bool prepare(const std::string &folder, std::string *error)
{
    return preparePrivateFolder(folder, error) && preparePrivateFolder(folder + "/.state", error);
}

std::string folderLockPath(const std::string &mountPoint)
{
    return parentOf(mountPoint) + "/.lock";
}

std::string serverLockPath(const std::string &mountPoint)
{
    return parentOf(mountPoint) + "/.state/" + nameOf(mountPoint) + ".lock";
}

void removeIfUnused(const std::string &mountPoint)
{
    const std::filesystem::path folder = parentOf(mountPoint);
    struct stat st;
    // Only a runtime folder of this user's own.
    if (folder.filename().string().rfind("isoswm", 0) != 0 || lstat(folder.c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode) || st.st_uid != geteuid())
        return;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (name != ".lock" && name != ".state")
            return;
    }
    if (ec || (rmdir((folder / ".state").c_str()) != 0 && errno != ENOENT))
        return; // a server's lock is still there
    unlink((folder / ".lock").c_str());
    rmdir(folder.c_str());
}

} // namespace RuntimeFolder

FileLock::~FileLock()
{
    close();
}

FileLock::FileLock(FileLock &&other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

FileLock &FileLock::operator=(FileLock &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool FileLock::open(const std::string &path, bool create)
{
    close();
    const int flags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0);
    m_fd = ::open(path.c_str(), flags, 0600);
    return m_fd >= 0;
}

bool FileLock::lock()
{
    while (flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

bool FileLock::tryLock()
{
    return flock(m_fd, LOCK_EX | LOCK_NB) == 0;
}

bool FileLock::lockWithin(int milliseconds)
{
    for (int waited = 0;; waited += 10) {
        if (tryLock())
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (waited >= milliseconds)
            return false;
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
}

bool FileLock::names(const std::string &path) const
{
    struct stat open, named;
    return m_fd >= 0 && fstat(m_fd, &open) == 0 && stat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

void FileLock::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}
