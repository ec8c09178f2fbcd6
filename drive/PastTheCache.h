#pragma once

#include <fcntl.h>
#include <unistd.h>

// A drive's descriptor past the page cache while this lives: writes go at
// the drive's own pace (no gigabytes of dirty pages wait for the last flush)
// and reads read the drive itself, so that what is read back is what it
// keeps. Where the flag is refused, the cache is flushed and dropped before
// reading instead.
class PastTheCache {
public:
    explicit PastTheCache(int drive)
        : m_drive(drive), m_flags(fcntl(drive, F_GETFL)),
          m_direct(m_flags >= 0 && fcntl(drive, F_SETFL, m_flags | O_DIRECT) == 0)
    {}
    ~PastTheCache()
    {
        if (m_direct)
            fcntl(m_drive, F_SETFL, m_flags);
    }
    PastTheCache(const PastTheCache &) = delete;
    PastTheCache &operator=(const PastTheCache &) = delete;

    // Before reading back: what is cached must not answer for the drive.
    void beforeReading() const
    {
        fdatasync(m_drive);
        if (!m_direct)
            posix_fadvise(m_drive, 0, 0, POSIX_FADV_DONTNEED);
    }

private:
    int m_drive;
    int m_flags;
    bool m_direct;
};
