#include "ExportStep.h"

#include "FileSystem.h"
#include "Log.h"
#include "WimImage.h"

#include <QDir>
#include <QFileInfo>

void ExportStep::run()
{
    if (!m_openUp.isEmpty()) {
        if (std::optional<Error> error = FileSystem::setPosixPermissions(m_openUp, 0777)) {
            finish(error);
            return;
        }
    }
    QDir().mkpath(QFileInfo(m_destination).path());
    Log::write(QStringLiteral("exporting %1 to %2").arg(m_image, m_destination));
    context().report(QT_TRANSLATE_NOOP("Conversion", "Exporting %1"),
                     QFileInfo(m_image).fileName());
    measure(StageDetail::Stage::Export, 0);
    inBackground(
        [this, source = m_image, destination = m_destination] {
            return WimImage::exportForSplit(source, destination,
                                            [this](quint64 done, quint64 total) {
                                                context().meter().set(qint64(done), qint64(total));
                                                return keepGoing();
                                            });
        },
        [this](WimImage::Result result) {
            context().endMeasuring();
            finish(result.outcome == WimImage::Outcome::Failed ? std::optional(result.error)
                                                               : std::nullopt);
        },
        true);
}
