#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <atomic>
#include <functional>

class ProgressMeter;
#include "SourceMount.h"

// A worker that reads from a mount whose file system has stopped answering
// never returns by itself: when the bytes of the stage in progress stand still
// for too long while a step reads the source, the mount is detached by force,
// which ends those reads with an error.
class StallWatch : public QObject {
public:
    // `meter` gives the meter that counts what the reading step does.
    StallWatch(std::function<const ProgressMeter &()> meter, std::function<bool()> running);

    void watch(SourceMount *source) { m_source = source; }
    // A step reads from the mounted source from now on, or no longer does. Any thread.
    void setReading(bool reading) { m_reading = reading; }
    bool stalled() const { return m_stalled; }

    // Without a byte for this long, a mounted source counts as stalled.
    static constexpr int kStallSeconds = 30;

private:
    void tick();

    std::function<const ProgressMeter &()> m_meter;
    std::function<bool()> m_running;
    QPointer<SourceMount> m_source;
    std::atomic<bool> m_reading{false};
    bool m_stalled = false;
    qint64 m_lastProgress = -1;
    int m_quietSeconds = 0;
    QTimer m_timer;
};
