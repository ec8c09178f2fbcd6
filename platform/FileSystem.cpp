#include "FileSystem.h"

#include "FileData.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path encode(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

QString decode(const fs::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

Error errorAt(int err, const fs::path &path, const char *operation)
{
    return Error::fromErrno(err, decode(path), QString::fromLatin1(operation));
}

// The entries of a folder in name order, so every walk visits items in a
// stable order. An errno value, 0 on success.
int listFolder(const fs::path &folder, std::vector<fs::path> &entries)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    return ec.value();
}

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

int removeTree(const fs::path &path, fs::path &failed)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        failed = path;
        return errno;
    }
    if (S_ISDIR(st.st_mode)) {
        std::vector<fs::path> entries;
        if (const int err = listFolder(path, entries)) {
            failed = path;
            return err;
        }
        for (const fs::path &entry : entries) {
            if (const int err = removeTree(entry, failed))
                return err;
        }
    }
    if ((S_ISDIR(st.st_mode) ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) != 0) {
        failed = path;
        return errno;
    }
    return 0;
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

std::optional<Error> setPosixPermissions(const QString &path, unsigned mode)
{
    const fs::path p = encode(path);
    if (::chmod(p.c_str(), mode_t(mode & 07777)) != 0)
        return errorAt(errno, p, "changed");
    return std::nullopt;
}

void openUpTree(const QString &directory)
{
    std::error_code ec;
    // Folders are opened before they are entered, so read-only ones can be walked.
    const auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(encode(directory), options, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (!it->is_symlink(ec))
            ::chmod(it->path().c_str(), 0777);
    }
}

std::optional<Error> removeItem(const QString &path)
{
    fs::path failed;
    if (const int err = removeTree(encode(path), failed))
        return errorAt(err, failed, "removed");
    return std::nullopt;
}

std::optional<QString> childIgnoringCase(const QString &directory, const QString &name)
{
    std::vector<fs::path> entries;
    listFolder(encode(directory), entries);
    std::optional<QString> match;
    for (const fs::path &entry : entries) {
        const QString candidate = decode(entry.filename());
        if (candidate == name)
            return decode(entry);
        if (!match && candidate.compare(name, Qt::CaseInsensitive) == 0)
            match = decode(entry);
    }
    return match;
}

std::optional<FileIdentity> identityOf(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileIdentity{st.st_dev, st.st_ino, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

int renameWithoutReplacing(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without the flag: a new link fails just as well on a taken
    // name. One without hard links either (some FUSE ones) gets a plain rename
    // after a look, which leaves only a moment's window.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return 0;
    }
    if (errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    struct stat st;
    if (::lstat(target.constData(), &st) == 0)
        return EEXIST;
    return ::rename(source.constData(), target.constData()) == 0 ? 0 : errno;
}

qint64 allocatedBytes(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? qint64(info.st_blocks) * 512
                                                                    : 0;
}

} // namespace FileSystem
