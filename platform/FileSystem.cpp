#include "FileSystem.h"

#include "FileSystemPaths.h"

#include <QTemporaryFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace FileSystemPaths;

namespace {

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

bool givesSpaceBack(const QString &folder)
{
    QTemporaryFile file(folder + QStringLiteral("/.isoswm-space-XXXXXX"));
    if (!file.open() || file.write(QByteArray(1 << 16, 'x')) != 1 << 16 || !file.flush())
        return false;
    const int fd = file.handle();
    fdatasync(fd);
    struct stat before, after;
    return fstat(fd, &before) == 0 && before.st_blocks > 0 &&
           fallocate(fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 1 << 16) == 0 &&
           fstat(fd, &after) == 0 && after.st_blocks < before.st_blocks;
}

} // namespace FileSystem
