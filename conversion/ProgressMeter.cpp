#include "ProgressMeter.h"

#include <cmath>

void ProgressMeter::begin(StageDetail::Stage stage, qint64 total, float from, float to)
{
    m_stage = stage;
    m_from = from;
    m_to = to;
    m_done = 0;
    m_total = total;
    m_points.clear();
    m_clock.start();
}

void ProgressMeter::end()
{
    m_stage = StageDetail::Stage::None;
}

void ProgressMeter::set(qint64 done, qint64 total)
{
    m_done.store(done, std::memory_order_relaxed);
    m_total.store(total, std::memory_order_relaxed);
}

void ProgressMeter::atLeast(qint64 done)
{
    qint64 now = m_done.load(std::memory_order_relaxed);
    while (now < done && !m_done.compare_exchange_weak(now, done, std::memory_order_relaxed)) {
    }
}

StageDetail ProgressMeter::sample()
{
    StageDetail detail;
    detail.stage = m_stage;
    detail.done = m_done.load(std::memory_order_relaxed);
    detail.total = m_total.load(std::memory_order_relaxed);
    detail.from = m_from;
    detail.to = m_to;
    if (!active())
        return detail;
    const qint64 now = m_clock.elapsed();
    m_points.push_back({now, detail.done});
    while (m_points.size() > 2 && now - m_points[1].ms >= kWindowMs)
        m_points.pop_front();
    const Point &first = m_points.front();
    // Half a second of data at least, or the first figures jump about.
    if (now - first.ms >= 500 && detail.done > first.done) {
        detail.bytesPerSecond = double(detail.done - first.done) * 1000.0 / double(now - first.ms);
        if (detail.total > detail.done)
            detail.secondsLeft =
                int(std::ceil(double(detail.total - detail.done) / detail.bytesPerSecond));
        else if (detail.total > 0)
            detail.secondsLeft = 0;
    }
    return detail;
}
