#include "Step.h"

#include "Conversion.h"
#include "RunContext.h"

#include <cerrno>

Error fullDiskNamed(Error error, const QString &folder)
{
    if (error.code == ENOSPC || error.code == EDQUOT ||
        error.details.contains(QLatin1String("No space left on device")) ||
        error.details.contains(QLatin1String("Disk full")))
        return {Conversion::tr("There is no space left in “%1”.").arg(folder), error.details,
                ENOSPC};
    return error;
}

void Step::start(RunContext &context, Stretch stretch, Finished finished)
{
    m_context = &context;
    m_stretch = stretch;
    m_finished = std::move(finished);
    run();
}

void Step::cancel()
{
    if (m_ended || m_cancelled.exchange(true))
        return;
    stop();
}

void Step::finish(const std::optional<Error> &error)
{
    if (!keepGoing())
        end(StepEnd::stopped());
    else if (error)
        end(StepEnd::failed(*error));
    else
        end(StepEnd::done());
}

void Step::end(const StepEnd &end)
{
    if (m_ended)
        return;
    m_ended = true;
    // The callback may start the next step, or end the run; nothing of this
    // step is touched after it.
    const Finished finished = std::move(m_finished);
    finished(end);
}

bool Step::keepGoing() const
{
    return m_context->running() && !m_cancelled.load();
}

void Step::measure(StageDetail::Stage stage, qint64 total,
                   std::function<void(ProgressMeter &)> poll)
{
    m_context->measure(stage, total, m_stretch, std::move(poll));
}
