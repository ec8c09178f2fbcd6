#include "StickProbe.h"

#include "PastTheCache.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <memory>
#include <random>
#include <sys/ioctl.h>
#include <unistd.h>

namespace StickProbe {

namespace {

constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kChunk = kMiB; // the most written or read at once

using Buffer = std::unique_ptr<char, decltype(&std::free)>;

// A word that differs at every offset and in every run, so that nothing
// a stick held before, nor a block moved elsewhere, passes for its own.
quint64 word(quint64 nonce, quint64 offset)
{
    quint64 z = nonce + offset * 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

void fill(char *buffer, qint64 offset, qint64 length, quint64 nonce)
{
    for (qint64 i = 0; i < length; i += 8) {
        const quint64 w = word(nonce, quint64(offset + i));
        std::memcpy(buffer + i, &w, 8);
    }
}

Outcome writeFailure(int err)
{
    return err == EROFS || err == EPERM || err == EACCES ? Outcome::ReadOnly
           : err == EIO || err == ENOSPC                 ? Outcome::Smaller
                                                         : Outcome::Failed;
}

struct Run {
    int drive;
    quint64 nonce;
    char *buffer; // kChunk bytes, aligned
    const std::function<bool()> &keepGoing;
};

// Writes the pattern (or zeros) over `regions`, counting in `written` the
// regions it began.
Result writeAll(const Run &run, const QList<Region> &regions, bool zeros, int *written)
{
    if (zeros)
        std::memset(run.buffer, 0, kChunk);
    for (const Region &region : regions) {
        if (!zeros && !run.keepGoing())
            return {Outcome::Cancelled};
        if (written)
            ++*written;
        for (qint64 at = region.offset; at < region.offset + region.length; at += kChunk) {
            const qint64 length = std::min(kChunk, region.offset + region.length - at);
            if (!zeros)
                fill(run.buffer, at, length, run.nonce);
            errno = 0;
            // A stick that takes not even the first write refuses them all.
            if (pwrite(run.drive, run.buffer, size_t(length), at) != length)
                return {at == 0 && !zeros ? Outcome::ReadOnly : writeFailure(errno), at,
                        errno ? errno : EIO};
        }
    }
    return {};
}

Result readAll(const Run &run, const QList<Region> &regions)
{
    QByteArray expected(kChunk, Qt::Uninitialized);
    for (const Region &region : regions) {
        if (!run.keepGoing())
            return {Outcome::Cancelled};
        for (qint64 at = region.offset; at < region.offset + region.length; at += kChunk) {
            const qint64 length = std::min(kChunk, region.offset + region.length - at);
            errno = 0;
            if (pread(run.drive, run.buffer, size_t(length), at) != length)
                return {errno == EIO || errno == 0 ? Outcome::Smaller : Outcome::Failed, at,
                        errno ? errno : EIO};
            fill(expected.data(), at, length, run.nonce);
            if (std::memcmp(run.buffer, expected.constData(), size_t(length)) != 0)
                return {Outcome::Smaller, at};
        }
    }
    return {};
}

} // namespace

QList<Region> regions(qint64 size)
{
    size -= size % kBlock;
    if (size <= 0)
        return {};
    // About as many single blocks as the dense stretch has: a few thousand
    // of each on a large stick, a few MiB written in all.
    const qint64 dense =
        std::min(size, std::clamp<qint64>(std::bit_ceil(quint64(size / 2048)), kMiB, 64 * kMiB));
    QList<Region> all{{0, dense}};
    for (qint64 at = dense; at < size; at += dense)
        all << Region{at, kBlock};
    for (const qint64 at : {size - kMiB, size - kBlock})
        if (at > all.last().offset)
            all << Region{at, kBlock};
    return all;
}

Result probe(int drive, qint64 size, const std::function<bool()> &keepGoing)
{
    int readOnly = 0;
    if (ioctl(drive, BLKROGET, &readOnly) == 0 && readOnly)
        return {Outcome::ReadOnly, 0, EROFS};
    const QList<Region> all = regions(size);
    Buffer buffer(static_cast<char *>(std::aligned_alloc(kBlock, kChunk)), &std::free);
    const Run run{drive, std::random_device()() * 0x100000001ULL ^ quint64(std::random_device()()),
                  buffer.get(), keepGoing};
    const PastTheCache direct(drive);
    int written = 0;
    Result result = writeAll(run, all, false, &written);
    if (result.outcome == Outcome::Holds) {
        direct.beforeReading();
        result = readAll(run, all);
    }
    // Zeroed whatever the outcome, the stick's old tables with them.
    if (written > 0 && result.outcome != Outcome::ReadOnly) {
        const Result zeroed = writeAll(run, all.mid(0, written), true, nullptr);
        if (fdatasync(drive) != 0 && result.outcome == Outcome::Holds)
            return {Outcome::Failed, 0, errno};
        if (zeroed.outcome != Outcome::Holds && result.outcome == Outcome::Holds)
            return zeroed;
    }
    return result;
}

} // namespace StickProbe
