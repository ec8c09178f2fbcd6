#pragma once

#include "StageDetail.h"

#include <QElapsedTimer>
#include <atomic>
#include <deque>

// Counts the bytes of the stage in progress and turns them into a detail with
// a rate and a time left. Workers add bytes from any thread; sample() is for
// the thread that publishes (a timer on the main thread).
class ProgressMeter {
public:
    void begin(StageDetail::Stage stage, qint64 total, float from, float to);
    void end();

    // Any thread.
    void add(qint64 bytes) { m_done.fetch_add(bytes, std::memory_order_relaxed); }
    void set(qint64 done, qint64 total);
    // Raises the bytes done to `done` when they are fewer.
    void atLeast(qint64 done);

    // The detail now; the rate is measured over the last few seconds.
    StageDetail sample();
    bool active() const { return m_stage != StageDetail::Stage::None; }
    StageDetail::Stage stage() const { return m_stage; }
    qint64 done() const { return m_done.load(std::memory_order_relaxed); }

private:
    struct Point {
        qint64 ms;
        qint64 done;
    };
    static constexpr qint64 kWindowMs = 5000;

    StageDetail::Stage m_stage = StageDetail::Stage::None;
    float m_from = 0;
    float m_to = 0;
    std::atomic<qint64> m_done{0};
    std::atomic<qint64> m_total{0};
    QElapsedTimer m_clock;
    std::deque<Point> m_points;
};
