#include "Leftovers.h"

#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString markerPath(const QString &directory)
{
    return directory + QLatin1Char('/') + QLatin1String(RunMarker::kFileName);
}

bool ownedByUs(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid();
}

// The marker of a run that is gone: it opens, and its lock is free.
bool abandoned(const QString &directory, QStringList *partials)
{
    const int fd = ::open(QFile::encodeName(markerPath(directory)).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    QFile marker;
    if (free && marker.open(fd, QIODevice::ReadOnly))
        *partials =
            QString::fromUtf8(marker.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ::close(fd);
    return free;
}

void removePartial(const QString &path, QStringList *removed)
{
    // Only what has our partial name, whatever the marker says.
    static const QRegularExpression ours(QStringLiteral("\\.isoswm-[A-Za-z0-9]{6}\\.part$"));
    if (!ours.match(path).hasMatch() || !QFileInfo::exists(path))
        return;
    FileSystem::openUpTree(path);
    if (!FileSystem::removeItem(path))
        removed->append(path);
}

} // namespace

RunMarker::~RunMarker()
{
    release();
}

bool RunMarker::create(const QString &temporaryDirectory)
{
    release();
    m_fd = ::open(QFile::encodeName(markerPath(temporaryDirectory)).constData(),
                  O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) == 0)
        return true;
    release();
    return false;
}

void RunMarker::recordPartial(const QString &path)
{
    if (m_fd < 0)
        return;
    const QByteArray line = QFile::encodeName(path) + '\n';
    [[maybe_unused]] const ssize_t n = ::write(m_fd, line.constData(), size_t(line.size()));
}

void RunMarker::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

namespace Leftovers {

QStringList sweep(const QString &temporaryFolder)
{
    QStringList removed;
    const QDir folder(temporaryFolder);
    const QStringList names =
        folder.entryList({QStringLiteral("iso-??????")}, QDir::Dirs | QDir::Hidden);
    for (const QString &name : names) {
        const QString directory = folder.filePath(name);
        QStringList partials;
        if (!ownedByUs(directory) || !abandoned(directory, &partials))
            continue;
        for (const QString &partial : partials)
            removePartial(partial, &removed);
        FileSystem::openUpTree(directory);
        if (!FileSystem::removeItem(directory))
            removed.append(directory);
    }
    return removed;
}

QString partialTemplate(const QString &destination)
{
    return destination + QStringLiteral(".isoswm-XXXXXX.part");
}

} // namespace Leftovers
