#include "StickWriter.h"

#include "PastTheCache.h"
#include "StickImage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QList>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>

namespace StickWriter {

namespace {

struct WriterText {
    Q_DECLARE_TR_FUNCTIONS(StickWriter)
};

constexpr qint64 kChunk = 4 << 20;
constexpr qint64 kTables = 1 << 20; // each end of the drive
constexpr size_t kAlignment = 4096;

struct Range {
    qint64 start;
    qint64 end;
};

struct Chunk {
    qint64 offset;
    qint64 length;
    QByteArray hash;
};

using Buffer = std::unique_ptr<char, decltype(&std::free)>;

Error systemError(int err, const QString &what)
{
    return {WriterText::tr("The USB drive could not be written."),
            what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err)), err};
}

qint64 little(const unsigned char *p, int bytes)
{
    qint64 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

// The file system's own tables (boot sectors, both FATs, the root folder's
// first cluster) are written whole: where the image has a hole there, the
// drive must read zeros, not what it held before.
qint64 metadataEnd(int image)
{
    unsigned char boot[512];
    if (pread(image, boot, sizeof boot, StickImage::kPartitionOffset) != sizeof boot)
        return StickImage::kPartitionOffset;
    const qint64 sector = little(boot + 11, 2), perCluster = boot[13];
    const qint64 reserved = little(boot + 14, 2), fats = boot[16],
                 fatSectors = little(boot + 36, 4);
    return StickImage::kPartitionOffset + (reserved + fats * fatSectors + perCluster) * sector;
}

// The parts of [from, to) that hold data, in order, joined where they touch.
QList<Range> dataRanges(int image, qint64 from, qint64 to, qint64 wholeUntil)
{
    QList<Range> ranges{{from, std::min(wholeUntil, to)}};
    for (qint64 at = std::min(wholeUntil, to); at < to;) {
        const off_t data = lseek(image, at, SEEK_DATA);
        if (data < 0 || data >= to)
            break;
        const off_t hole = std::min<off_t>(lseek(image, data, SEEK_HOLE), to);
        if (data <= ranges.last().end)
            ranges.last().end = std::max<qint64>(ranges.last().end, hole);
        else
            ranges << Range{data, hole};
        at = hole;
    }
    return ranges;
}

bool copyRange(int image, int drive, const Range &range, char *buffer, QList<Chunk> *chunks,
               qint64 *done, qint64 total, const Progress &progress, std::optional<Error> *error)
{
    for (qint64 at = range.start; at < range.end; at += kChunk) {
        const qint64 length = std::min(kChunk, range.end - at);
        if (pread(image, buffer, size_t(length), at) != length) {
            *error = systemError(errno ? errno : EIO, WriterText::tr("reading the image"));
            return false;
        }
        if (pwrite(drive, buffer, size_t(length), at) != length) {
            *error = systemError(errno ? errno : EIO, WriterText::tr("writing the drive"));
            return false;
        }
        chunks->append(
            {at, length,
             QCryptographicHash::hash(QByteArrayView(buffer, length), QCryptographicHash::Sha1)});
        *done += length;
        if (progress && !progress(Phase::Writing, *done, total)) {
            *error = Error{WriterText::tr("The write was cancelled."), QString(), ECANCELED};
            return false;
        }
    }
    return true;
}

std::optional<Error> verify(int drive, const QList<Chunk> &chunks, char *buffer, qint64 total,
                            const Progress &progress)
{
    qint64 verified = 0;
    for (const Chunk &chunk : chunks) {
        if (pread(drive, buffer, size_t(chunk.length), chunk.offset) != chunk.length)
            return systemError(errno ? errno : EIO, WriterText::tr("reading the drive back"));
        if (QCryptographicHash::hash(QByteArrayView(buffer, chunk.length),
                                     QCryptographicHash::Sha1) != chunk.hash)
            return Error{WriterText::tr("The USB drive did not keep what was written to it."),
                         WriterText::tr("The %1 bytes at %2 read back differently. The drive "
                                        "may be faulty, or smaller than it claims.")
                             .arg(chunk.length)
                             .arg(chunk.offset),
                         EIO};
        verified += chunk.length;
        if (progress && !progress(Phase::Verifying, verified, total))
            return Error{WriterText::tr("The write was cancelled."), QString(), ECANCELED};
    }
    return std::nullopt;
}

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
        return Error{WriterText::tr("The installer was not made for this drive."),
                     WriterText::tr("%1 bytes in 512-byte sectors made, %2 in %3-byte sectors "
                                    "there")
                         .arg(size)
                         .arg(driveSize)
                         .arg(sectorSize)};
    return size;
}

// The drive being written: `buffer` holds kChunk bytes, aligned for O_DIRECT.
struct Target {
    int drive;
    qint64 size;
    char *buffer;
    bool *touched;
};

// No partition table from here on until the new one goes on last; a write
// that fails or is cancelled after that takes it away again.
std::optional<Error> eraseTables(const Target &target)
{
    std::memset(target.buffer, 0, kTables);
    for (const qint64 at : {qint64(0), target.size - kTables})
        if (pwrite(target.drive, target.buffer, kTables, at) != kTables)
            return systemError(errno ? errno : EIO, WriterText::tr("erasing the partition tables"));
        else if (target.touched)
            *target.touched = true;
    if (fdatasync(target.drive) != 0)
        return systemError(errno, WriterText::tr("erasing the partition tables"));
    return std::nullopt;
}

// The image's data, then the new tables, each chunk's hash kept for the
// read-back in `chunks`; `total` is the bytes to write.
std::optional<Error> writeData(int image, const Target &target, QList<Chunk> *chunks, qint64 *total,
                               const Progress &progress)
{
    const qint64 size = target.size;
    QList<Range> ranges = dataRanges(image, kTables, size - kTables, metadataEnd(image));
    ranges << Range{size - kTables, size} << Range{0, kTables};
    qint64 done = 0;
    *total = 0;
    for (const Range &r : ranges)
        *total += r.end - r.start;
    std::optional<Error> error;
    for (const Range &range : ranges) {
        if (range.start == size - kTables &&
            fdatasync(target.drive) != 0) // the data before the tables
            return systemError(errno, WriterText::tr("writing the drive"));
        if (!copyRange(image, target.drive, range, target.buffer, chunks, &done, *total, progress,
                       &error)) {
            eraseTables(target); // the new tables may be half-way on
            return error;
        }
    }
    if (fsync(target.drive) != 0)
        return systemError(errno, WriterText::tr("writing the drive"));
    return std::nullopt;
}

} // namespace

std::optional<Error> write(const QString &imagePath, int drive, const Progress &progress,
                           bool *touched)
{
    if (touched)
        *touched = false;
    const int image = ::open(QFile::encodeName(imagePath).constData(), O_RDONLY | O_CLOEXEC);
    if (image < 0)
        return systemError(errno, imagePath);
    const auto closeImage = qScopeGuard([image] { ::close(image); });
    const std::variant<qint64, Error> size = sizeFor(image, imagePath, drive);
    if (const Error *refused = std::get_if<Error>(&size))
        return *refused;

    const PastTheCache pastTheCache(drive);
    Buffer buffer(static_cast<char *>(std::aligned_alloc(kAlignment, kChunk)), &std::free);
    const Target target{drive, std::get<qint64>(size), buffer.get(), touched};
    if (auto failed = eraseTables(target))
        return failed;
    QList<Chunk> chunks;
    qint64 total = 0;
    if (auto failed = writeData(image, target, &chunks, &total, progress))
        return failed;

    pastTheCache.beforeReading();
    std::optional<Error> error = verify(drive, chunks, buffer.get(), total, progress);
    // A stick that did not keep its data must not look finished.
    if (error)
        eraseTables(target);
    return error;
}

} // namespace StickWriter
