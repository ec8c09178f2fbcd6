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
    ProgressMeter &meter() { return m_meter; }

    // A status marked with QT_TRANSLATE_NOOP("Conversion", ...); `argument`
    // fills its %1. Logged in English, as every other line of the log is.
    void report(const char *status, const QString &argument = QString(), bool item = false);
    void reportMilestone(float value) { emit milestone(value); }

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
    Poll m_poll;
    QTimer m_detailTimer;
    StallWatch m_stallWatch;
    Teardown m_teardown;
    QString m_temporaryDirectory;
};
