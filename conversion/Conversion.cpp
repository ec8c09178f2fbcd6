#include "Conversion.h"

#include "Log.h"

Conversion::Conversion(Options options, Tools tools, Prompts *prompts, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_prompts(prompts), m_context(prompts)
{
    m_pipeline = m_options.drive ? Pipelines::drive(m_options, tools, m_values, prompts)
                                 : Pipelines::iso(m_options, tools, m_values, prompts);
    forwardSignals();
}

Conversion::~Conversion()
{
    // A worker stops at its next chunk once the run is over; it never waits for
    // this thread, so the steps' joins cannot deadlock.
    m_context.setRunning(false);
    m_pipeline.steps.reset();
    m_values.drive.close();
}

void Conversion::forwardSignals()
{
    RunContext *c = &m_context;
    connect(c, &RunContext::runningChanged, this, &Conversion::runningChanged);
    connect(c, &RunContext::cancellingChanged, this, &Conversion::cancellingChanged);
    connect(c, &RunContext::mountPathChanged, this, &Conversion::mountPathChanged);
    connect(c, &RunContext::temporaryDirectoryChanged, this,
            &Conversion::temporaryDirectoryChanged);
    connect(c, &RunContext::stagingFolderChanged, this, &Conversion::stagingFolderChanged);
    connect(c, &RunContext::splitRunnerStarted, this, &Conversion::splitRunnerStarted);
    connect(c, &RunContext::buildRunnerStarted, this, &Conversion::buildRunnerStarted);
    connect(c, &RunContext::statusText, this, &Conversion::statusText);
    connect(c, &RunContext::milestone, this, &Conversion::milestone);
    connect(c, &RunContext::detailChanged, this, &Conversion::detailChanged);
    connect(c, &RunContext::notice, this, &Conversion::notice);
}

void Conversion::start()
{
    if (m_started)
        return;
    m_started = true;
    m_context.setRunning(true);
    m_pipeline.steps->start(m_context, {}, [this](const StepEnd &end) { ended(end); });
}

void Conversion::cancel()
{
    if (!isRunning())
        return;
    m_context.report(QT_TRANSLATE_NOOP("Conversion", "Cancelling, please wait"));
    m_cancelled = true;
    m_context.stopRunning();
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
            m_context.setRunning(false);
        cleanup();
        break;
    case StepEnd::Kind::Done:
        m_outcome = Outcome::Succeeded;
        m_context.setRunning(false);
        m_context.reportMilestone(m_pipeline.doneMilestone);
        cleanup(m_pipeline.completed);
        break;
    }
}

void Conversion::fail(const Error &error)
{
    // Whatever failed, the reason was a source that stopped answering.
    if (m_context.stallWatch().stalled())
        m_prompts->runErrorAlert({tr("The source image stopped answering."),
                                  tr("Its file system gave no data for %1 seconds, so it was "
                                     "detached. Check the disk the image is on. (%2)")
                                      .arg(StallWatch::kStallSeconds)
                                      .arg(error.details)});
    else
        m_prompts->runErrorAlert(error);
    m_context.stopRunning();
    cleanup();
}

void Conversion::cleanup(std::function<void()> then)
{
    if (m_cleaningUp)
        return;
    m_cleaningUp = true;
    m_context.endMeasuring();
    Log::write(QStringLiteral("cleaning up"));
    m_context.report(QT_TRANSLATE_NOOP("Conversion", "deleting temp files"));
    const QString &temporary = m_context.temporaryDirectory();
    Log::write(QStringLiteral("deleting temp files at %1")
                   .arg(temporary.isNull() ? QStringLiteral("(null)") : temporary));
    m_context.teardown().run([this, then = std::move(then)] {
        m_context.reportMilestone(0);
        m_context.report("");
        m_context.setCancelling(false);
        emit cleanedUp();
        if (then)
            then();
        if (!m_outcome)
            m_outcome = m_cancelled ? Outcome::Cancelled : Outcome::Failed;
        emit finished(*m_outcome);
    });
}
