#include "RunContext.h"

#include "Log.h"

#include <QCoreApplication>

namespace {
// Often enough that nothing on screen stands still, rarely enough to cost nothing.
constexpr int kDetailIntervalMs = 100;
} // namespace

RunContext::RunContext(Prompts *prompts, QObject *parent)
    : QObject(parent), m_prompts(prompts), m_stallWatch([this]() -> const ProgressMeter & { return meter(); },
                   [this] { return running(); })
{
    m_detailTimer.setInterval(kDetailIntervalMs);
    connect(&m_detailTimer, &QTimer::timeout, this, &RunContext::publishDetail);
}

void RunContext::setRunning(bool running)
{
    m_running = running;
    emit runningChanged(running);
}

void RunContext::setCancelling(bool cancelling)
{
    emit cancellingChanged(cancelling);
}

void RunContext::stopRunning()
{
    setRunning(false);
    setCancelling(true);
}

void RunContext::report(const char *status, const QString &argument, bool item)
{
    const auto filled = [&argument](const QString &text) {
        return argument.isNull() ? text : text.arg(argument);
    };
    if (!item && *status)
        Log::write(filled(QString::fromUtf8(status)));
    emit statusText(filled(QCoreApplication::translate("Conversion", status)), item);
}

void RunContext::measure(StageDetail::Stage stage, qint64 total, Stretch stretch, Poll poll)
{
    if (m_barHeld) {
        m_aside.begin(stage, total, stretch.from, stretch.to);
        return;
    }
    m_poll = std::move(poll);
    m_meter.begin(stage, total, stretch.from, stretch.to);
    publishDetail();
    m_detailTimer.start();
}

void RunContext::endMeasuring()
{
    if (m_barHeld)
        m_aside.end();
    if (m_barHeld || !m_meter.active())
        return;
    m_detailTimer.stop();
    m_meter.end();
    m_poll = {};
    emit detailChanged(StageDetail());
}

void RunContext::setTemporaryDirectory(const QString &path)
{
    m_temporaryDirectory = path;
    emit temporaryDirectoryChanged(path);
}

void RunContext::publishDetail()
{
    if (!m_meter.active())
        return;
    if (m_poll)
        m_poll(m_meter);
    emit detailChanged(m_meter.sample());
}
