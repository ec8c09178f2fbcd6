#pragma once

#include "Error.h"
#include "ProgressMeter.h"
#include "StallWatch.h"
#include "Step.h"
#include "Teardown.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>

class Prompts;
#include "QNTaskWrapperWithBlocks.h"

// What every step of a run sees: the stop token, the status text and the
// progress bar, the notices, the prompts, the teardown list, and the run's
// properties as the controller shows them. Reports may come from any thread;
// they reach the controller through its main queue, in the order made.
class RunContext : public QObject {
    Q_OBJECT
public:
    explicit RunContext(Prompts *prompts, QObject *parent = nullptr);

    bool running() const { return m_running.load(); }
    void setRunning(bool running);
    void setCancelling(bool cancelling);
    // A failure's way out: not running any more, and stopping.
    void stopRunning();
    Prompts *prompts() const { return m_prompts; }
    Teardown &teardown() { return m_teardown; }
    StallWatch &stallWatch() { return m_stallWatch; }
    // While the bar is held it stays with what measures it now: the steps that
    // run meanwhile count on a meter that nothing shows, and their milestones
    // are not shown.
    ProgressMeter &meter() { return m_barHeld ? m_aside : m_meter; }
    void holdBar(bool held) { m_barHeld = held; }

    // A status marked with QT_TRANSLATE_NOOP("Conversion", ...); `argument`
    // fills its %1. Logged in English, as every other line of the log is.
    void report(const char *status, const QString &argument = QString(), bool item = false);
    void reportMilestone(float value)
    {
        if (!m_barHeld)
            emit milestone(value);
    }

    // The bar follows `stage` across `stretch` until the next stage or the
    // end; `poll`, if given, raises the count before each sample.
    using Poll = std::function<void(ProgressMeter &meter)>;
    void measure(StageDetail::Stage stage, qint64 total, Stretch stretch, Poll poll = {});
    void endMeasuring();

    void setTemporaryDirectory(const QString &path);
    const QString &temporaryDirectory() const { return m_temporaryDirectory; }

signals:
    void runningChanged(bool running);
    void cancellingChanged(bool cancelling);
    void mountPathChanged(const QString &path);
    void temporaryDirectoryChanged(const QString &path);
    void stagingFolderChanged(const QString &path);
    void splitRunnerStarted(QNTaskWrapperWithBlocks *runner);
    void buildRunnerStarted(QNTaskWrapperWithBlocks *runner);
    void statusText(const QString &text, bool item);
    void milestone(float value);
    void detailChanged(const StageDetail &detail);
    void notice(const QString &text);

private:
    void publishDetail();

    Prompts *m_prompts;
    std::atomic<bool> m_running{false};
    ProgressMeter m_meter;
    ProgressMeter m_aside;
    std::atomic<bool> m_barHeld{false};
    Poll m_poll;
    QTimer m_detailTimer;
    StallWatch m_stallWatch;
    Teardown m_teardown;
    QString m_temporaryDirectory;
};
