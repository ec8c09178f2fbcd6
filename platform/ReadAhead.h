#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>
#include <vector>

// Reads a range of a file on a thread of its own, a few chunks ahead of the
// one who takes them, so that reading one file system and writing another
// overlap instead of taking turns. From a mounted image this is most of the
// difference to reading the image file directly.
class ReadAhead {
public:
    // [offset, offset + length) of `fd`; a negative length reads to the end.
    ReadAhead(int fd, off_t offset, off_t length, size_t chunkSize, int depth);
    // Stops reading and waits for the reading thread.
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;

    struct Chunk {
        const char *data = nullptr;
        ssize_t size = 0; // 0 at the end
        int error = 0;    // an errno value from the read
    };
    // The next chunk, once it is read. It stays valid until the next call.
    Chunk next();

private:
    struct Slot {
        std::unique_ptr<char[]> data;
        ssize_t size = 0;
        int error = 0;
    };
    void read();

    int m_fd;
    off_t m_offset;
    off_t m_left;
    bool m_toEnd;
    size_t m_chunkSize;
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_filled = 0; // slots read so far
    size_t m_taken = 0;  // slots handed out so far
    bool m_done = false; // the reader has stopped (end, error or told to)
    bool m_stop = false;
    std::thread m_reader;
};
