#include "ReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

ReadAhead::ReadAhead(int fd, off_t offset, off_t length, size_t chunkSize, int depth)
    : m_fd(fd), m_offset(offset), m_left(length), m_toEnd(length < 0), m_chunkSize(chunkSize),
      m_slots(size_t(depth))
{
    for (Slot &slot : m_slots)
        slot.data = std::make_unique_for_overwrite<char[]>(chunkSize);
    m_reader = std::thread(&ReadAhead::read, this);
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_reader.join();
}

ReadAhead::Chunk ReadAhead::next()
{
    std::unique_lock lock(m_mutex);
    // The slot handed out last is free again from now on.
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return m_taken < m_filled || m_done; });
    if (m_taken == m_filled)
        return {};
    const Slot &slot = m_slots[m_taken++ % m_slots.size()];
    return {slot.data.get(), slot.size, slot.error};
}

void ReadAhead::read()
{
    for (;;) {
        std::unique_lock lock(m_mutex);
        // A slot may be filled once the one handed out before it is given back
        // (the taker holds at most one).
        m_changed.wait(lock, [this] { return m_stop || m_filled < m_taken + m_slots.size() - 1; });
        if (m_stop || (!m_toEnd && m_left <= 0))
            break;
        Slot &slot = m_slots[m_filled % m_slots.size()];
        lock.unlock();
        const size_t want =
            m_toEnd ? m_chunkSize : size_t(std::min<off_t>(m_left, off_t(m_chunkSize)));
        ssize_t n;
        do
            n = ::pread(m_fd, slot.data.get(), want, m_offset);
        while (n < 0 && errno == EINTR);
        slot.size = std::max<ssize_t>(n, 0);
        slot.error = n < 0 ? errno : 0;
        lock.lock();
        if (n <= 0) {
            if (n < 0)
                ++m_filled; // the error is handed out as a chunk of its own
            break;
        }
        m_offset += n;
        m_left -= n;
        ++m_filled;
        m_changed.notify_all();
    }
    std::lock_guard lock(m_mutex);
    m_done = true;
    m_changed.notify_all();
}
