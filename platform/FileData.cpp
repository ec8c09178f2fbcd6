#include "FileData.h"

#include "ReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <unistd.h>

namespace {

// Small enough that a stop takes effect within a fraction of a second even on
// a slow disk, large enough that the calls cost nothing measurable.
constexpr off_t kChunk = off_t(8) << 20;
// A large file is read ahead on a thread of its own while the last chunk is
// written: 24 MiB in flight.
constexpr size_t kReadAheadChunk = size_t(4) << 20;
constexpr int kReadAheadDepth = 6;

class Copier {
public:
    Copier(int in, int out, const FileData::Progress &progress)
        : m_in(in), m_out(out), m_progress(progress)
    {}

    // Copies [offset, offset + length); length < 0 means up to the real end,
    // `known` bytes of which the file's size promises.
    FileData::Outcome range(off_t offset, off_t length, off_t known)
    {
        m_inOff = m_outOff = offset;
        m_toEnd = length < 0;
        m_left = length;
        m_known = m_toEnd ? known : length;
        if (m_kernelCopy) {
            if (const FileData::Outcome o = kernelCopy(); o.error || o.stopped)
                return o;
            if (m_kernelCopy && m_toEnd) {
                // A zero from the kernel is the end only if a read agrees: some
                // file systems copy nothing without saying why.
                char probe;
                const ssize_t n = ::pread(m_in, &probe, 1, m_inOff);
                if (n <= 0)
                    return {n < 0 ? errno : 0, false};
            }
        }
        return readWrite();
    }

private:
    bool more() const { return m_toEnd || m_left > 0; }
    off_t want() const { return m_toEnd ? kChunk : std::min(m_left, kChunk); }

    bool report(ssize_t n)
    {
        m_left -= n;
        return !m_progress || m_progress(n);
    }

    // copy_file_range while the kernel can do this pair; across file systems
    // and from FUSE it usually cannot, which is the case for a mounted image.
    FileData::Outcome kernelCopy()
    {
        while (more()) {
            const ssize_t n =
                ::copy_file_range(m_in, &m_inOff, m_out, &m_outOff, size_t(want()), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                m_kernelCopy = false;
                return {};
            }
            if (n < 0)
                return {errno, false};
            if (n == 0)
                return {};
            if (!report(n))
                return {0, true};
        }
        return {};
    }

    FileData::Outcome readWrite()
    {
        // A reader thread and its buffers pay off only for a large file.
        if (m_known >= 2 * off_t(kReadAheadChunk))
            return readAheadWrite();
        if (!m_buffer)
            m_buffer = std::make_unique_for_overwrite<char[]>(size_t(kChunk));
        while (more()) {
            const ssize_t n = ::pread(m_in, m_buffer.get(), size_t(want()), m_inOff);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return {errno, false};
            if (n == 0)
                break;
            if (const int err = writeAll(m_buffer.get(), n))
                return {err, false};
            m_inOff += n;
            if (!report(n))
                return {0, true};
        }
        return {};
    }

    FileData::Outcome readAheadWrite()
    {
        ReadAhead ahead(m_in, m_inOff, m_toEnd ? -1 : m_left, kReadAheadChunk, kReadAheadDepth);
        for (;;) {
            const ReadAhead::Chunk chunk = ahead.next();
            if (chunk.error || chunk.size == 0)
                return {chunk.error, false};
            if (const int err = writeAll(chunk.data, chunk.size))
                return {err, false};
            m_inOff += chunk.size;
            if (!report(chunk.size))
                return {0, true};
        }
    }

    int writeAll(const char *data, ssize_t n)
    {
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::pwrite(m_out, data + done, size_t(n - done), m_outOff);
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return errno;
            done += w;
            m_outOff += w;
        }
        return 0;
    }

    int m_in;
    int m_out;
    const FileData::Progress &m_progress;
    bool m_kernelCopy = true;
    bool m_toEnd = false;
    off_t m_inOff = 0;
    off_t m_outOff = 0;
    off_t m_left = 0;
    off_t m_known = 0;
    std::unique_ptr<char[]> m_buffer;
};

} // namespace

namespace FileData {

Outcome copy(int in, int out, off_t size, const Progress &progress)
{
    Copier copier(in, out, progress);
    if (size == 0)
        return copier.range(0, -1, 0);
    for (off_t offset = 0; offset < size;) {
        off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0 && errno == ENXIO)
            break; // only a hole is left
        if (data < 0)
            data = offset; // no hole support: all of it is data
        off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0)
            hole = size;
        // The last piece runs to the real end in case the file grew meanwhile.
        const off_t length = hole >= size ? -1 : hole - data;
        if (const Outcome o = copier.range(data, length, hole - data);
            o.error || o.stopped || length < 0)
            return o;
        offset = hole;
    }
    // A trailing hole: give the copy its full length.
    if (::ftruncate(out, size) != 0)
        return {errno, false};
    return {};
}

} // namespace FileData
