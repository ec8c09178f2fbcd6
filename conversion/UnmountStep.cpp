#include "UnmountStep.h"

#include "Log.h"
#include "RunContext.h"

void UnmountStep::run()
{
    if (m_telling != Telling::Nothing)
        Log::write(QStringLiteral("unmounting ISO"));
    if (m_telling == Telling::LogAndStatus)
        context().report(QT_TRANSLATE_NOOP("Conversion", "Unmounting ISO"));
    m_source->unmount(false, [this](bool unmounted, const QString &reason) {
        if (!unmounted && m_telling != Telling::Nothing)
            Log::write(
                QStringLiteral("unmounting ISO failed (%1); cleanup will detach it").arg(reason));
        end(StepEnd::done());
    });
}
