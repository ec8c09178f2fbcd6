#pragma once

#include "Error.h"
#include "FatScan.h"

#include <QHash>
#include <QList>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>
#include <vector>

class PastTheCache;

// Writes a stick's image (StickImage) to the drive while the image is still
// being filled, so that the drive, the slowest part of the run, is busy from
// the start. Each file's data goes to the drive once it is placed, on a
// thread of its own, and its space in the image is given back (the image is
// sparse); what still changes while files are added (folders, the FATs, the
// boot sectors) and the partition tables go last, so that a stick left at any
// moment before has no partition table. Everything written is read back past
// the page cache at the end and compared with a checksum kept as it went.
class StickStream {
public:
    enum class Phase { Writing, Verifying };
    // Told the bytes done of the phase's total; false stops the write.
    using Progress = std::function<bool(Phase phase, qint64 done, qint64 total)>;

    // `image` was made for this drive, which is open for reading and writing;
    // its old partition tables are erased at once.
    static std::variant<std::unique_ptr<StickStream>, Error> open(const QString &image, int drive);
    ~StickStream();
    StickStream(const StickStream &) = delete;
    StickStream &operator=(const StickStream &) = delete;

    // The files placed in the image since the last call go to the drive.
    // Any thread; returns at once.
    // What stopped the writer, if anything did.
    std::optional<Error> placed();
    // Gives `file` its place in the folder `folder` ("sources") of the file
    // system, under its own name, and sends its data to the drive straight
    // from it; the image never holds it. The file is read meanwhile, and
    // removed once it is all on the drive and released. Placing it again
    // changes nothing.
    std::optional<Error> placeFile(const QString &folder, const QString &file);
    // The files placed from may go once they are on the drive.
    void release();
    // No more is written; the writer ends after the chunk it is on.
    void stop();
    // Once the files are all placed: the rest, the tables last, then the
    // read-back. A failure after the tables went on takes them away again.
    std::optional<Error> finish(const Progress &progress = {});

    qint64 written() const { return m_written.load(); }
    // What is written besides the files' data: the file system's own tables
    // and the partition tables.
    qint64 overheadBytes() const;
    QString writing() const;                // the file on its way to the drive
    std::optional<Error> failure() const;   // what stopped the writer

private:
    StickStream(int image, int drive, qint64 size);
    // A stretch to write, from the image or from a file of its own.
    struct Pending : FatScan::Extent {
        QString source;
    };
    void queue(const Pending &next);
    bool sent(const Pending &done);
    void writer();
    std::optional<Error> copy(const Pending &extent, bool giveBack,
                              const Progress &progress = {}, qint64 total = 0);
    std::optional<Error> writeLast(const Progress &progress);
    std::optional<Error> readBack(const Progress &progress);

    int m_image;
    int m_drive;
    qint64 m_size;
    FatScan::Geometry m_geometry;
    std::unique_ptr<PastTheCache> m_pastTheCache;
    std::unique_ptr<char, void (*)(void *)> m_buffer;
    struct Chunk {
        qint64 offset;
        qint64 length;
        quint32 sum;
    };
    QList<Chunk> m_chunks; // the writer's until it has ended
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    QList<Pending> m_queue;
    struct Sources {
        QHash<QString, qint64> left; // bytes not yet on the drive, by file
        bool released = false;
    } m_sources;
    std::vector<bool> m_sent; // clusters queued already
    QString m_current;
    std::optional<Error> m_error;
    bool m_closing = false;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false}; // the writer has nothing more to do
    std::atomic<bool> m_punch{true};
    std::atomic<qint64> m_written{0};
    std::thread m_thread;
};
