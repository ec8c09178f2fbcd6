#pragma once

#include <QMetaType>
#include <QString>

// What the stage in progress has done so far, published beside the progress
// milestones: bytes done of a total, the rate, and an estimate of the time left.
struct StageDetail {
    // Stick, Pieces, Write and ReadBack make a USB installer: its files,
    // the pieces added to them, the write to the drive and its read-back.
    enum class Stage { None, Copy, Export, Split, Verify, Build, Stick, Pieces, Write, ReadBack };

    Stage stage = Stage::None;
    qint64 done = 0;
    qint64 total = 0;          // 0 when not known
    double bytesPerSecond = 0; // 0 until there is enough to tell
    int secondsLeft = -1;      // -1 when not known
    // The stretch of the progress bar the stage fills, between two milestones.
    float from = 0;
    float to = 0;

    // Share of the stage done, 0 to 1; 0 when the total is not known.
    double fraction() const;
    // Where the progress bar stands within the stage's stretch.
    float overall() const { return from + float(fraction()) * (to - from); }
    // "1.4 GB of 4.6 GB · 310 MB/s · about 10 s left"; the parts not known yet
    // are left out.
    QString summary() const;

    bool operator==(const StageDetail &other) const = default;

    // "1.4 GB", "310 MB", "512 bytes": decimal units, as disks are sold.
    static QString formatBytes(qint64 bytes);
    // "about 10 s left", "about 4 min left", "about 1 h 5 min left".
    static QString formatTimeLeft(int seconds);
};

Q_DECLARE_METATYPE(StageDetail)
