#include "Conversion.h"

#include "Log.h"

Conversion::Conversion(Options options, Prompts *prompts, QObject *parent)
    : RunContext(prompts, parent), m_options(std::move(options))
{
    m_pipeline = m_options.drive ? Pipelines::drive(m_options, m_values, prompts)
                                 : Pipelines::iso(m_options, m_values, prompts);
}

Conversion::~Conversion()
{
    // A worker stops at its next chunk once the run is over; it never waits for
    // this thread, so the steps' joins cannot deadlock. Nobody hears of it.
    disconnect();
    setRunning(false);
    m_pipeline.steps.reset();
    m_values.drive.close();
}

void Conversion::start()
{
    if (m_started)
        return;
    m_started = true;
    setRunning(true);
    m_pipeline.steps->start(*this, {}, [this](const StepEnd &end) { ended(end); });
}

void Conversion::cancel()
{
    if (!isRunning())
        return;
    report(QT_TRANSLATE_NOOP("Conversion", "Cancelling, please wait"));
    m_cancelled = true;
    stopRunning();
    m_pipeline.steps->cancel();
    Log::write(QStringLiteral("cancelling"));
}

void Conversion::ended(const StepEnd &end)
{
    switch (end.kind) {
    case StepEnd::Kind::Failed:
        fail(end.error);
        break;
    case StepEnd::Kind::Stopped:
        if (isRunning())
            setRunning(false);
        cleanup();
        break;
    case StepEnd::Kind::Done:
        m_outcome = Outcome::Succeeded;
        setRunning(false);
        reportMilestone(m_pipeline.doneMilestone);
        cleanup(m_pipeline.completed);
        break;
    }
}

void Conversion::fail(const Error &error)
{
    // Whatever failed, the reason was a source that stopped answering.
    if (stallWatch().stalled())
        prompts()->runErrorAlert({tr("The source image stopped answering."),
                                  tr("Its file system gave no data for %1 seconds, so it was "
                                     "detached. Check the disk the image is on. (%2)")
                                      .arg(StallWatch::kStallSeconds)
                                      .arg(error.details)});
    else
        prompts()->runErrorAlert(error);
    stopRunning();
    cleanup();
}

void Conversion::cleanup(std::function<void()> then)
{
    if (m_cleaningUp)
        return;
    m_cleaningUp = true;
    endMeasuring();
    Log::write(QStringLiteral("cleaning up"));
    report(QT_TRANSLATE_NOOP("Conversion", "deleting temp files"));
    const QString &temporary = temporaryDirectory();
    Log::write(QStringLiteral("deleting temp files at %1")
                   .arg(temporary.isNull() ? QStringLiteral("(null)") : temporary));
    teardown().run([this, then = std::move(then)] {
        reportMilestone(0);
        report("");
        setCancelling(false);
        emit cleanedUp();
        if (then)
            then();
        if (!m_outcome)
            m_outcome = m_cancelled ? Outcome::Cancelled : Outcome::Failed;
        emit finished(*m_outcome);
    });
}
