#include "WriteStep.h"

#include "Conversion.h"
#include "Log.h"
#include "OpenDriveStep.h"
#include "StickStream.h"
#include "UDisksDrives.h"

#include <cerrno>

void WriteStep::run()
{
    if (!m_drive.stillThere()) {
        finish(OpenDriveStep::gone(m_drive.facts));
        return;
    }
    Log::write(QStringLiteral("finishing the write to %1").arg(m_drive.facts.device));
    context().report(QT_TRANSLATE_NOOP("Conversion", "Writing to %1"), m_drive.facts.name());
    auto reading = std::make_shared<bool>(false);
    inBackground(
        [this, reading, stream = m_stream] {
            return stream->finish([this, reading](StickStream::Phase now, qint64 done,
                                                  qint64 total) {
                if (now == StickStream::Phase::Verifying && !*reading) {
                    *reading = true;
                    // The read-back is a stage of its own on screen.
                    QMetaObject::invokeMethod(
                        this, [this, total] { readingBack(total); }, Qt::QueuedConnection);
                } else if (*reading) {
                    context().meter().set(done, total);
                }
                return keepGoing();
            });
        },
        [this](std::optional<Error> error) { written(std::move(error)); });
}

void WriteStep::readingBack(qint64 total)
{
    if (!context().running())
        return;
    context().holdBar(false);
    context().reportMilestone(96);
    context().report(QT_TRANSLATE_NOOP("Conversion", "Checking %1"), m_drive.facts.name());
    context().measure(StageDetail::Stage::ReadBack, total, m_readBack);
}

void WriteStep::written(std::optional<Error> error)
{
    context().holdBar(false);
    context().endMeasuring();
    m_stream.reset(); // its writer has ended
    m_drive.close();
    m_drive.service->rescan(m_drive.facts);
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
