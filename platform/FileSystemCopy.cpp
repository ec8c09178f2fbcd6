// FileSystem::copyItem: a tree copied item by item, as the conversion's
// staging copy needs it.

#include "FileData.h"
#include "FileSystem.h"
#include "FileSystemPaths.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace FileSystemPaths;

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

void copyTimes(const fs::path &path, const struct stat &st, int flags)
{
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, flags); // best effort
}

class Copier {
public:
    explicit Copier(const FileSystem::CopyCallbacks &callbacks) : m_callbacks(callbacks) {}

    std::optional<Error> copy(const fs::path &source, const fs::path &destination)
    {
        if (m_stopped ||
            (m_callbacks.shouldCopyItem && !m_callbacks.shouldCopyItem(decode(source))))
            return std::nullopt;
        struct stat st;
        if (::lstat(source.c_str(), &st) != 0)
            return errorAt(errno, source, "copied");
        switch (st.st_mode & S_IFMT) {
        case S_IFDIR:
            return copyFolder(source, destination, st);
        case S_IFREG:
            return copyFile(source, destination, st);
        case S_IFLNK:
            return copyLink(source, destination, st);
        default:
            // Fifos, sockets and device nodes have no place on a disc image and
            // cannot be copied as data: passed over, as a refusal is.
            return std::nullopt;
        }
    }

private:
    std::optional<Error> copyFolder(const fs::path &source, const fs::path &destination,
                                    const struct stat &st)
    {
        // Owner-writable until filled: read-only source folders (r-x on a
        // mounted image) must still receive their contents.
        if (::mkdir(destination.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
            return errorAt(errno, destination, "copied");
        std::vector<fs::path> entries;
        if (const int err = listFolder(source, entries))
            return errorAt(err, source, "copied");
        for (const fs::path &entry : entries) {
            if (auto error = copy(entry, destination / entry.filename()))
                return error;
        }
        if (::chmod(destination.c_str(), st.st_mode & 07777) != 0)
            return errorAt(errno, destination, "copied");
        copyTimes(destination, st, 0);
        return std::nullopt;
    }

    std::optional<Error> copyFile(const fs::path &source, const fs::path &destination,
                                  const struct stat &st)
    {
        Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (in.fd < 0)
            return errorAt(errno, source, "copied");
        ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
        Fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      S_IRUSR | S_IWUSR));
        if (out.fd < 0)
            return errorAt(errno, destination, "copied");
        const FileData::Outcome copied =
            FileData::copy(in.fd, out.fd, st.st_size, m_callbacks.copiedBytes);
        m_stopped = copied.stopped;
        int err = copied.error;
        if (err == 0 && ::fchmod(out.fd, st.st_mode & 07777) != 0)
            err = errno;
        if (err == 0) {
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(out.fd, times);
        }
        if (err == 0 && ::close(std::exchange(out.fd, -1)) != 0)
            err = errno;
        if (err != 0) {
            ::unlink(destination.c_str());
            // Where the data went matters more than where it came from when the
            // destination cannot take it.
            const bool full = err == ENOSPC || err == EDQUOT || err == EFBIG;
            return errorAt(err, full ? destination : source, "copied");
        }
        return std::nullopt;
    }

    std::optional<Error> copyLink(const fs::path &source, const fs::path &destination,
                                  const struct stat &st)
    {
        // The link itself, never what it points to: a link on the volume may
        // point anywhere on this machine.
        std::error_code ec;
        const fs::path target = fs::read_symlink(source, ec);
        if (ec)
            return errorAt(ec.value(), source, "copied");
        if (::symlink(target.c_str(), destination.c_str()) != 0)
            return errorAt(errno, destination, "copied");
        copyTimes(destination, st, AT_SYMLINK_NOFOLLOW);
        return std::nullopt;
    }

    const FileSystem::CopyCallbacks &m_callbacks;
    bool m_stopped = false;
};

// True when `destination` would land inside the folder `source`, where the
// copy would find itself and never end.
bool isInside(const fs::path &source, const fs::path &destination)
{
    std::error_code ec;
    const fs::path src = fs::canonical(source, ec);
    if (ec)
        return false;
    const fs::path parent = fs::canonical(fs::absolute(destination).parent_path(), ec);
    if (ec)
        return false;
    const auto [end, _] = std::mismatch(src.begin(), src.end(), parent.begin(), parent.end());
    return end == src.end();
}

} // namespace

namespace FileSystem {

std::optional<Error> copyItem(const QString &source, const QString &destination,
                              const CopyCallbacks &callbacks)
{
    const fs::path src = encode(source);
    const fs::path dst = encode(destination);
    struct stat srcStat;
    struct stat dstStat;
    if (::lstat(src.c_str(), &srcStat) != 0)
        return errorAt(errno, src, "copied");
    if (::lstat(dst.c_str(), &dstStat) == 0)
        return errorAt(EEXIST, dst, "copied");
    if (S_ISDIR(srcStat.st_mode) && isInside(src, dst))
        return errorAt(EINVAL, dst, "copied");
    return Copier(callbacks).copy(src, dst);
}

} // namespace FileSystem
