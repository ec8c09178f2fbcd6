#include "StickStream.h"

#include "FatPlace.h"
#include "PastTheCache.h"
#include "StickDriveIo.h"
#include "StickImage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <cerrno>
#include <zlib.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace StickDriveIo {

Error systemError(int err, const QString &what)
{
    return {Text::tr("The USB drive could not be written."),
            what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)), err};
}

quint32 checksum(const char *data, qint64 length)
{
    return quint32(crc32_z(0, reinterpret_cast<const Bytef *>(data), size_t(length)));
}

Error cancelled()
{
    return {Text::tr("The write was cancelled."), QString(), ECANCELED};
}

std::optional<Error> eraseTables(int drive, qint64 size, char *buffer)
{
    std::memset(buffer, 0, kTables);
    errno = 0;
    for (const qint64 at : {qint64(0), size - kTables})
        if (pwrite(drive, buffer, kTables, at) != kTables)
            return systemError(errno ? errno : EIO, Text::tr("erasing the partition tables"));
    if (fdatasync(drive) != 0)
        return systemError(errno, Text::tr("erasing the partition tables"));
    return std::nullopt;
}

} // namespace StickDriveIo
namespace {

using namespace StickDriveIo;
struct StreamText {
    Q_DECLARE_TR_FUNCTIONS(StickWriter)
};

constexpr size_t kAlignment = 4096;

// The image's size when it was made for this drive: as large, in 512-byte
// sectors (the backup table belongs on the drive's last sectors).
std::variant<qint64, Error> sizeFor(int image, const QString &imagePath, int drive)
{
    struct stat info;
    uint64_t driveSize = 0;
    if (fstat(image, &info) != 0)
        return systemError(errno, imagePath);
    if (ioctl(drive, BLKGETSIZE64, &driveSize) != 0)
        driveSize = uint64_t(lseek(drive, 0, SEEK_END));
    const qint64 size = info.st_size;
    int sectorSize = 512;
    ioctl(drive, BLKSSZGET, &sectorSize);
    if (qint64(driveSize) != size || size < 2 * kTables || sectorSize != 512)
        return Error{StreamText::tr("The installer was not made for this drive."),
                     StreamText::tr("%1 bytes in 512-byte sectors made, %2 in %3-byte sectors "
                                    "there")
                         .arg(size)
                         .arg(driveSize)
                         .arg(sectorSize)};
    return size;
}

} // namespace

std::variant<std::unique_ptr<StickStream>, Error> StickStream::open(const QString &imagePath,
                                                                    int drive)
{
    const int image = ::open(QFile::encodeName(imagePath).constData(), O_RDWR | O_CLOEXEC);
    if (image < 0)
        return systemError(errno, imagePath);
    const std::variant<qint64, Error> size = sizeFor(image, imagePath, drive);
    const std::optional<FatScan::Geometry> geometry =
        FatScan::geometry(image, StickImage::kPartitionOffset);
    if (std::holds_alternative<Error>(size) || !geometry) {
        ::close(image);
        if (const Error *refused = std::get_if<Error>(&size))
            return *refused;
        return Error{StreamText::tr("The installer was not made for this drive."),
                     StreamText::tr("%1 holds no FAT32 file system.").arg(imagePath)};
    }
    std::unique_ptr<StickStream> stream(new StickStream(image, drive, std::get<qint64>(size)));
    if (!stream->m_buffer)
        return systemError(ENOMEM, imagePath);
    stream->m_geometry = *geometry;
    stream->m_sent.assign(geometry->clusters + 2, false);
    if (std::optional<Error> error = eraseTables(drive, stream->m_size, stream->m_buffer.get()))
        return *error;
    stream->m_thread = std::thread([s = stream.get()] { s->writer(); });
    return stream;
}

StickStream::StickStream(int image, int drive, qint64 size)
    : m_image(image), m_drive(drive), m_size(size),
      m_pastTheCache(std::make_unique<PastTheCache>(drive)),
      m_buffer(static_cast<char *>(std::aligned_alloc(kAlignment, kChunk)), &std::free)
{}

StickStream::~StickStream()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_image);
}

std::optional<Error> StickStream::placed()
{
    const FatScan::Map map = FatScan::scan(m_image, m_geometry);
    if (!map.complete)
        return systemError(EIO, StreamText::tr("reading the image"));
    const std::lock_guard lock(m_mutex);
    const qint64 cluster = m_geometry.clusterBytes;
    for (const FatScan::Extent &extent : map.files) {
        // Only the clusters not sent before, in runs.
        for (qint64 i = 0; i < extent.length / cluster; ++i) {
            const quint32 c = extent.firstCluster + quint32(i);
            if (m_sent[c])
                continue;
            m_sent[c] = true;
            queue({{m_geometry.offsetOf(c), cluster, c, extent.file}, {}});
        }
    }
    m_wake.notify_all();
    return m_error;
}

// Joined to the last stretch queued where it follows on in the same file.
void StickStream::queue(const Pending &next)
{
    if (!m_queue.isEmpty()) {
        Pending &last = m_queue.last();
        if (last.file == next.file && last.source == next.source &&
            last.offset + last.length == next.offset) {
            last.length += next.length;
            return;
        }
    }
    m_queue.append(next);
}

std::optional<Error> StickStream::placeFile(const QString &folder, const QString &file)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_sources.left.contains(file))
            return m_error; // placed already
    }
    const QFileInfo info(file);
    auto placed = FatPlace::reserve(m_image, m_geometry, folder, info.fileName(), info.size());
    if (const Error *error = std::get_if<Error>(&placed))
        return *error;
    const FatScan::Extent &where = std::get<FatScan::Extent>(placed);
    const std::lock_guard lock(m_mutex);
    for (qint64 i = 0; i < where.length / m_geometry.clusterBytes; ++i)
        m_sent[where.firstCluster + quint32(i)] = true;
    m_sources.left[file] += where.length;
    queue({where, file});
    m_wake.notify_all();
    return m_error;
}

void StickStream::release()
{
    QStringList done;
    {
        const std::lock_guard lock(m_mutex);
        m_sources.released = true;
        for (auto it = m_sources.left.cbegin(); it != m_sources.left.cend(); ++it)
            if (it.value() == 0)
                done << it.key();
    }
    for (const QString &file : done)
        QFile::remove(file);
}

// Whether the file `done` came from may go now. Called with the lock held.
bool StickStream::sent(const Pending &done)
{
    if (done.source.isEmpty())
        return false;
    qint64 &left = m_sources.left[done.source];
    left -= done.length;
    return left == 0 && m_sources.released;
}

void StickStream::stop()
{
    const std::lock_guard lock(m_mutex);
    m_stop = true;
    m_wake.notify_all();
}

void StickStream::writer()
{
    for (;;) {
        Pending next;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_closing || !m_queue.isEmpty(); });
            if (m_stop || m_queue.isEmpty()) {
                m_ended = true;
                return;
            }
            next = m_queue.takeFirst();
            m_current = next.file;
        }
        std::optional<Error> error = copy(next, true);
        std::unique_lock lock(m_mutex);
        if (!error) {
            const bool gone = sent(next);
            lock.unlock();
            if (gone)
                QFile::remove(next.source);
            continue;
        }
        if (!m_stop)
            m_error = error;
        m_stop = true;
        m_ended = true;
        return;
    }
}

std::optional<Error> StickStream::copy(const Pending &extent, bool giveBack,
                                       const Progress &progress, qint64 total)
{
    const int source = extent.source.isEmpty()
                           ? m_image
                           : ::open(QFile::encodeName(extent.source).constData(), O_RDONLY | O_CLOEXEC);
    if (source < 0)
        return systemError(errno, extent.source);
    const auto closeSource = qScopeGuard([&] {
        if (source != m_image)
            ::close(source);
    });
    // A file of its own holds the data from its start; past its end, the last
    // cluster's rest is zeros.
    const qint64 shift = source == m_image ? 0 : extent.offset;
    struct stat info;
    const qint64 sourceSize = fstat(source, &info) == 0 ? info.st_size : 0;
    char *buffer = m_buffer.get();
    for (qint64 at = extent.offset, end = extent.offset + extent.length; at < end; at += kChunk) {
        if (m_stop)
            return cancelled();
        const qint64 length = std::min(kChunk, end - at);
        const ssize_t got = pread(source, buffer, size_t(length), at - shift);
        // Short only at a file's end, never within it.
        if (got != std::clamp<qint64>(sourceSize - (at - shift), 0, length))
            return systemError(got < 0 ? errno : EIO,
                               source == m_image ? StreamText::tr("reading the image")
                                                 : extent.source);
        std::memset(buffer + got, 0, size_t(length - got));
        errno = 0; // a short write sets none
        if (pwrite(m_drive, buffer, size_t(length), at) != length)
            return systemError(errno ? errno : EIO, StreamText::tr("writing the drive"));
        m_chunks.append({at, length, checksum(buffer, length)});
        // On the drive now: the image need not hold it any longer.
        if (giveBack && source == m_image && m_punch &&
            fallocate(m_image, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, length) != 0)
            m_punch = false;
        m_written += length;
        if (progress && !progress(Phase::Writing, m_written, total))
            return cancelled();
    }
    return std::nullopt;
}

