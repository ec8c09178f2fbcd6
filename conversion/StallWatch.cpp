#include "StallWatch.h"

#include "Log.h"
#include "ProgressMeter.h"
#include "SourceMount.h"

namespace {
// After a cancel, a worker has this long to come back by itself.
constexpr int kCancelGraceSeconds = 3;
} // namespace

StallWatch::StallWatch(std::function<const ProgressMeter &()> meter,
                       std::function<bool()> running)
    : m_meter(std::move(meter)), m_running(std::move(running))
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &StallWatch::tick);
    m_timer.start();
}

void StallWatch::tick()
{
    if (!m_reading || !m_source || !m_source->attached() || m_stalled) {
        m_quietSeconds = 0;
        return;
    }
    const ProgressMeter &meter = m_meter();
    if (meter.done() != m_lastProgress) {
        m_lastProgress = meter.done();
        m_quietSeconds = 0;
        return;
    }
    // A stage that counts no bytes (the inspection) is only judged after a cancel.
    const bool running = m_running();
    if (running && !meter.active())
        return;
    if (++m_quietSeconds < (running ? kStallSeconds : kCancelGraceSeconds))
        return;
    m_stalled = true;
    Log::write(QStringLiteral("the source image does not answer; detaching it by force"));
    m_source->unmount(true, [](bool detached, const QString &reason) {
        if (!detached)
            Log::write(QStringLiteral("detaching the source image failed: %1").arg(reason));
    });
}
