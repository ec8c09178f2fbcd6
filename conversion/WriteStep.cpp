#include "WriteStep.h"

#include "Conversion.h"
#include "Log.h"
#include "OpenDriveStep.h"
#include "StickWriter.h"
#include "UDisksDrives.h"

#include <cerrno>

void WriteStep::run()
{
    if (!m_drive.stillThere()) {
        finish(OpenDriveStep::gone(m_drive.facts));
        return;
    }
    Log::write(QStringLiteral("writing %1 to %2").arg(m_image, m_drive.facts.device));
    context().report(QT_TRANSLATE_NOOP("Conversion", "Writing to %1"), m_drive.facts.name());
    measure(StageDetail::Stage::Write, 0);
    auto phase = std::make_shared<StickWriter::Phase>(StickWriter::Phase::Writing);
    inBackground(
        [this, phase, image = m_image, fd = m_drive.fd] {
            return StickWriter::write(
                image, fd,
                [this, phase](StickWriter::Phase now, qint64 done, qint64 total) {
                    if (now != *phase) {
                        *phase = now;
                        // The read-back is a stage of its own on screen.
                        QMetaObject::invokeMethod(
                            this, [this, total] { readingBack(total); }, Qt::QueuedConnection);
                    } else {
                        context().meter().set(done, total);
                    }
                    return keepGoing();
                },
                &m_touched);
        },
        [this](std::optional<Error> error) { written(std::move(error)); });
}

void WriteStep::readingBack(qint64 total)
{
    if (context().meter().stage() != StageDetail::Stage::Write)
        return;
    context().reportMilestone(96);
    context().report(QT_TRANSLATE_NOOP("Conversion", "Checking %1"), m_drive.facts.name());
    context().measure(StageDetail::Stage::ReadBack, total, m_readBack);
}

void WriteStep::written(std::optional<Error> error)
{
    context().endMeasuring();
    m_drive.close();
    m_drive.service->rescan(m_drive.facts);
    if (m_touched)
        m_drive.erased = bool(error);
    // Stopped: the teardown says what became of the drive.
    if (error && (!context().running() || error->code == ECANCELED)) {
        end(StepEnd::stopped());
        return;
    }
    if (error) {
        Log::write(QStringLiteral("writing the drive failed: %1").arg(error->details));
        if (m_drive.erased) {
            // The writer's reason, as one sentence, before what became of the drive.
            QString &details = error->details;
            if (!details.isEmpty() && !details.endsWith(QLatin1Char('.')))
                details += QLatin1Char('.');
            details += (details.isEmpty() ? QString() : QStringLiteral(" ")) +
                       OpenDriveStep::leftWithoutTable(m_drive.facts);
            m_drive.erased = false; // told here
        }
    }
    finish(error);
}
