#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

// Everything below works on the paths' bytes, so names that are not valid
// UTF-8 (possible on a disc image) survive the copy unchanged; QString only
// appears where a path is shown to the caller.

namespace {

using Bytes = std::string;

constexpr size_t kCopyChunk = size_t(1) << 30;      // one copy_file_range call
constexpr size_t kFallbackBuffer = size_t(4) << 20; // read/write when the kernel cannot copy

Bytes encode(const QString &path)
{
    const QByteArray b = QFile::encodeName(path);
    return Bytes(b.constData(), size_t(b.size()));
}

QString decode(const Bytes &path)
{
    return QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
}

Bytes join(const Bytes &dir, const char *name)
{
    Bytes p = dir;
    if (p.empty() || p.back() != '/')
        p += '/';
    p += name;
    return p;
}

Error errorAt(int err, const Bytes &path, const char *operation)
{
    return Error::fromErrno(err, decode(path), QString::fromLatin1(operation));
}

// RAII for the two descriptor kinds the walks open.
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

// The names in a folder, sorted so every walk visits items in a stable order.
// Returns an errno value, 0 on success.
int listDirectory(const Bytes &dir, std::vector<Bytes> &names)
{
    DIR *d = ::opendir(dir.c_str());
    if (!d)
        return errno;
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent *e = ::readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return err;
}

// Copies [inOff, inOff + length) to the same offset of `out`; length < 0 means up
// to the end of the input, whatever its reported size (virtual files report 0).
// copy_file_range first; read/write once the kernel says it cannot do this pair
// (across file systems, FUSE), which is the usual case for a mounted image.
int copyRange(int in, int out, off_t offset, off_t length, bool &kernelCopy,
              std::vector<char> &buffer)
{
    off_t inOff = offset;
    off_t outOff = offset;
    const bool toEnd = length < 0;
    off_t left = length;
    while (kernelCopy && (toEnd || left > 0)) {
        const size_t want = toEnd ? kCopyChunk : size_t(std::min<off_t>(left, off_t(kCopyChunk)));
        const ssize_t n = ::copy_file_range(in, &inOff, out, &outOff, want, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EBADF) {
                kernelCopy = false;
                break;
            }
            return errno;
        }
        if (n == 0) {
            // Either the real end, or a file system that copies nothing without
            // saying so; read/write settles which.
            break;
        }
        left -= n;
    }
    if (kernelCopy && toEnd) {
        // The kernel saw the end; make sure with one byte before reading on.
        char probe;
        const ssize_t n = ::pread(in, &probe, 1, inOff);
        if (n == 0)
            return 0;
        if (n < 0)
            return errno;
    }
    if (buffer.empty() && (toEnd || left > 0))
        buffer.resize(kFallbackBuffer);
    while (toEnd || left > 0) {
        const size_t want =
            toEnd ? buffer.size() : size_t(std::min<off_t>(left, off_t(buffer.size())));
        const ssize_t n = ::pread(in, buffer.data(), want, inOff);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::pwrite(out, buffer.data() + done, size_t(n - done), outOff);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                return errno;
            }
            done += w;
            outOff += w;
        }
        inOff += n;
        left -= n;
    }
    return 0;
}

// Copies the data of a regular file, skipping holes so a sparse file stays
// sparse and costs nothing to copy.
int copyData(int in, int out, off_t size, std::vector<char> &buffer)
{
    bool kernelCopy = true;
    if (size == 0)
        return copyRange(in, out, 0, -1, kernelCopy, buffer);
    off_t offset = 0;
    while (offset < size) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO)
                break;     // only a hole is left
            data = offset; // no hole support: all of it is data
        }
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0)
            hole = size;
        // The last piece runs to the real end in case the file grew meanwhile.
        const off_t length = hole >= size ? -1 : hole - data;
        if (const int err = copyRange(in, out, data, length, kernelCopy, buffer))
            return err;
        if (length < 0)
            return 0;
        offset = hole;
    }
    // A trailing hole: give the copy its full length.
    if (::ftruncate(out, size) != 0)
        return errno;
    return 0;
}

void copyTimes(int dirFd, const char *path, const struct stat &st, int flags)
{
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(dirFd, path, times, flags); // best effort: not every target keeps times
}

class Copier {
public:
    explicit Copier(const FileSystem::ShouldCopyItem &shouldCopy) : m_shouldCopy(shouldCopy) {}

    std::optional<Error> copy(const Bytes &source, const Bytes &destination)
    {
        if (m_shouldCopy && !m_shouldCopy(decode(source)))
            return std::nullopt;

        struct stat st;
        if (::lstat(source.c_str(), &st) != 0)
            return errorAt(errno, source, "copied");

        switch (st.st_mode & S_IFMT) {
        case S_IFDIR:
            return copyDirectory(source, destination, st);
        case S_IFREG:
            return copyFile(source, destination, st);
        case S_IFLNK:
            return copyLink(source, destination, st);
        default:
            // Fifos, sockets and device nodes have no place on a disc image and
            // cannot be copied as data: they are passed over, as a refusal is.
            return std::nullopt;
        }
    }

private:
    std::optional<Error> copyDirectory(const Bytes &source, const Bytes &destination,
                                       const struct stat &st)
    {
        // Owner-writable until filled: read-only source folders (r-x on a
        // mounted image) must still receive their contents.
        if (::mkdir(destination.c_str(), (st.st_mode & 07777) | S_IRWXU) != 0)
            return errorAt(errno, destination, "copied");

        std::vector<Bytes> names;
        if (const int err = listDirectory(source, names))
            return errorAt(err, source, "copied");
        for (const Bytes &name : names) {
            if (auto error = copy(join(source, name.c_str()), join(destination, name.c_str())))
                return error;
        }

        if (::chmod(destination.c_str(), st.st_mode & 07777) != 0)
            return errorAt(errno, destination, "copied");
        copyTimes(AT_FDCWD, destination.c_str(), st, 0);
        return std::nullopt;
    }

    std::optional<Error> copyFile(const Bytes &source, const Bytes &destination,
                                  const struct stat &st)
    {
        Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (in.fd < 0)
            return errorAt(errno, source, "copied");
        Fd out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                      S_IRUSR | S_IWUSR));
        if (out.fd < 0)
            return errorAt(errno, destination, "copied");

        int err = copyData(in.fd, out.fd, st.st_size, m_buffer);
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
            return errorAt(err, source, "copied");
        }
        return std::nullopt;
    }

    std::optional<Error> copyLink(const Bytes &source, const Bytes &destination,
                                  const struct stat &st)
    {
        // The link itself, never what it points to: a link on the volume may
        // point anywhere on this machine.
        Bytes target(size_t(st.st_size > 0 ? st.st_size : 256), '\0');
        for (;;) {
            const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
            if (n < 0)
                return errorAt(errno, source, "copied");
            if (size_t(n) < target.size()) {
                target.resize(size_t(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        if (::symlink(target.c_str(), destination.c_str()) != 0)
            return errorAt(errno, destination, "copied");
        copyTimes(AT_FDCWD, destination.c_str(), st, AT_SYMLINK_NOFOLLOW);
        return std::nullopt;
    }

    const FileSystem::ShouldCopyItem &m_shouldCopy;
    std::vector<char> m_buffer; // for read/write, made on first need, shared by all files
};

// True when `destination` would land inside the folder `source`, where the
// copy would find itself and never end.
bool isInside(const Bytes &source, const Bytes &destination)
{
    char *src = ::realpath(source.c_str(), nullptr);
    if (!src)
        return false;
    Bytes parent = destination;
    while (parent.size() > 1 && parent.back() == '/')
        parent.pop_back();
    const auto slash = parent.rfind('/');
    parent =
        slash == Bytes::npos ? Bytes(".") : (slash == 0 ? Bytes("/") : parent.substr(0, slash));
    char *dst = ::realpath(parent.c_str(), nullptr);
    bool inside = false;
    if (dst) {
        const Bytes s(src);
        const Bytes d(dst);
        inside = d == s || (d.size() > s.size() && d.compare(0, s.size(), s) == 0 &&
                            (s == "/" || d[s.size()] == '/'));
    }
    std::free(src);
    std::free(dst);
    return inside;
}

void enumerateInto(const Bytes &directory, const QString &prefix, QStringList &out)
{
    std::vector<Bytes> names;
    listDirectory(directory, names); // an unreadable folder lists what it can: nothing
    for (const Bytes &name : names) {
        const Bytes path = join(directory, name.c_str());
        const QString relative = prefix + QFile::decodeName(name.c_str());
        out.append(relative);
        struct stat st;
        if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            enumerateInto(path, relative + QLatin1Char('/'), out);
    }
}

int removeTree(const Bytes &path, Bytes &failedPath)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        failedPath = path;
        return errno;
    }
    if (S_ISDIR(st.st_mode)) {
        std::vector<Bytes> names;
        if (const int err = listDirectory(path, names)) {
            failedPath = path;
            return err;
        }
        for (const Bytes &name : names) {
            if (const int err = removeTree(join(path, name.c_str()), failedPath))
                return err;
        }
        if (::rmdir(path.c_str()) != 0) {
            failedPath = path;
            return errno;
        }
        return 0;
    }
    if (::unlink(path.c_str()) != 0) {
        failedPath = path;
        return errno;
    }
    return 0;
}

} // namespace

namespace FileSystem {

std::optional<Error> copyItem(const QString &source, const QString &destination,
                              const ShouldCopyItem &shouldCopy)
{
    const Bytes src = encode(source);
    const Bytes dst = encode(destination);

    struct stat srcStat;
    struct stat dstStat;
    if (::lstat(src.c_str(), &srcStat) != 0)
        return errorAt(errno, src, "copied");
    if (::lstat(dst.c_str(), &dstStat) == 0)
        return errorAt(EEXIST, dst, "copied");
    if (S_ISDIR(srcStat.st_mode) && isInside(src, dst))
        return errorAt(EINVAL, dst, "copied");

    return Copier(shouldCopy).copy(src, dst);
}

std::optional<Error> setPosixPermissions(const QString &path, unsigned mode)
{
    const Bytes p = encode(path);
    if (::chmod(p.c_str(), mode_t(mode & 07777)) != 0)
        return errorAt(errno, p, "changed");
    return std::nullopt;
}

std::optional<Error> removeItem(const QString &path)
{
    Bytes failed;
    if (const int err = removeTree(encode(path), failed))
        return errorAt(err, failed, "removed");
    return std::nullopt;
}

QStringList enumerate(const QString &directory)
{
    QStringList out;
    enumerateInto(encode(directory), QString(), out);
    return out;
}

std::optional<QString> childIgnoringCase(const QString &directory, const QString &name)
{
    std::vector<Bytes> names;
    listDirectory(encode(directory), names);
    std::optional<QString> match;
    for (const Bytes &entry : names) {
        const QString candidate = QFile::decodeName(entry.c_str());
        if (candidate == name)
            return QDir(directory).filePath(candidate);
        if (!match && candidate.compare(name, Qt::CaseInsensitive) == 0)
            match = QDir(directory).filePath(candidate);
    }
    return match;
}

} // namespace FileSystem
