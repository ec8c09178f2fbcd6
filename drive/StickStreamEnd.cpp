#include "StickStream.h"

#include "PastTheCache.h"
#include "StickDriveIo.h"

#include <cerrno>
#include <chrono>
#include <unistd.h>

using namespace StickDriveIo;

qint64 StickStream::overheadBytes() const
{
    return m_geometry.dataStart - m_geometry.partition + 2 * kTables;
}

QString StickStream::writing() const
{
    const std::lock_guard lock(m_mutex);
    return m_current;
}

std::optional<Error> StickStream::failure() const
{
    const std::lock_guard lock(m_mutex);
    return m_error;
}

std::optional<Error> StickStream::finish(const Progress &progress)
{
    const std::optional<Error> unread = placed();
    if (unread)
        stop();
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
        m_wake.notify_all();
    }
    // What is queued goes on; progress is told meanwhile, and may stop it.
    while (!m_ended) {
        if (progress && !progress(Phase::Writing, m_written, 0))
            stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    m_thread.join();
    if (std::optional<Error> error = failure())
        return error;
    if (unread)
        return unread;
    if (m_stop)
        return cancelled();
    std::optional<Error> error = writeLast(progress);
    if (!error)
        error = readBack(progress);
    // A stick that did not keep its data must not look finished.
    if (error)
        eraseTables(m_drive, m_size, m_buffer.get());
    return error;
}

std::optional<Error> StickStream::writeLast(const Progress &progress)
{
    const FatScan::Map map = FatScan::scan(m_image, m_geometry);
    if (!map.complete)
        return systemError(EIO, Text::tr("reading the image"));
    QList<FatScan::Extent> last = map.folders;
    // The boot sectors and both FATs, whole: where the image has a hole, the
    // drive must read zeros, not what it held before.
    last.append({m_geometry.partition, m_geometry.dataStart - m_geometry.partition, 0, {}});
    for (const FatScan::Extent &extent : last)
        if (std::optional<Error> error = copy({extent, {}}, false, progress))
            return error;
    if (fdatasync(m_drive) != 0) // everything before the tables
        return systemError(errno, Text::tr("writing the drive"));
    // The backup table's end of the drive from where the file system ends.
    const qint64 tail = std::max(m_size - kTables, m_geometry.end);
    for (const FatScan::Extent &table : {FatScan::Extent{tail, m_size - tail, 0, {}},
                                         FatScan::Extent{0, kTables, 0, {}}})
        if (std::optional<Error> error = copy({table, {}}, false, progress))
            return error;
    if (fsync(m_drive) != 0)
        return systemError(errno, Text::tr("writing the drive"));
    return std::nullopt;
}

std::optional<Error> StickStream::readBack(const Progress &progress)
{
    m_pastTheCache->beforeReading();
    qint64 total = 0, verified = 0;
    for (const Chunk &chunk : std::as_const(m_chunks))
        total += chunk.length;
    char *buffer = m_buffer.get();
    for (const Chunk &chunk : std::as_const(m_chunks)) {
        if (pread(m_drive, buffer, size_t(chunk.length), chunk.offset) != chunk.length)
            return systemError(errno ? errno : EIO, Text::tr("reading the drive back"));
        if (checksum(buffer, chunk.length) != chunk.sum)
            return Error{Text::tr("The USB drive did not keep what was written to it."),
                         Text::tr("The %1 bytes at %2 read back differently. The drive "
                                        "may be faulty, or smaller than it claims.")
                             .arg(chunk.length)
                             .arg(chunk.offset),
                         EIO};
        verified += chunk.length;
        if (progress && !progress(Phase::Verifying, verified, total))
            return cancelled();
    }
    return std::nullopt;
}
