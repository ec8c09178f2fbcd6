#include "VerifyStep.h"

#include "WimImage.h"

void VerifyStep::run()
{
    context().report(QT_TRANSLATE_NOOP("Conversion", "Verifying install.swm"));
    if (m_shown)
        measure(StageDetail::Stage::Verify, 0);
    inBackground(
        [this, first = m_split.first()] {
            return WimImage::verifySplitSet(first, [this](quint64 done, quint64 total) {
                if (m_shown)
                    context().meter().set(qint64(done), qint64(total));
                return keepGoing();
            });
        },
        [this](const WimImage::Result &result) {
            if (m_shown)
                context().endMeasuring();
            finish(result.outcome == WimImage::Outcome::Failed ? std::optional(result.error)
                                                               : std::nullopt);
        });
}

// The pieces are still being read back.
void VerifyStep::foreground()
{
    context().report(QT_TRANSLATE_NOOP("Conversion", "Verifying install.swm"));
    measure(StageDetail::Stage::Verify, 0);
    m_shown = true;
}
