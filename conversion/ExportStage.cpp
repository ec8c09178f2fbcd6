#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"

#include <QFileInfo>

// A solid install.wim or an install.esd cannot be split as it is: every
// edition is exported, straight from the mount, into a plain install.wim that
// the split then takes as it would take the original.
void Conversion::exportStage()
{
    const QString name = QFileInfo(m_layout.imagePath).fileName();
    m_splitSource = PathName::join(m_options.direct ? m_piecesFolder : sourcesFolder(),
                                   QStringLiteral("install.wim"));
    // The copy keeps the disc's read-only modes; the export writes beside them.
    if (!m_options.direct) {
        if (std::optional<Error> error = FileSystem::setPosixPermissions(sourcesFolder(), 0777)) {
            fail(*error);
            return;
        }
    }
    Log::write(QStringLiteral("exporting %1 to %2").arg(m_layout.imagePath, m_splitSource));
    report(QT_TR_NOOP("Exporting %1"), name);
    beginMeasuring(StageDetail::Stage::Export, 0);
    m_readingSource = true;
    inBackground(
        [this, source = m_layout.imagePath, destination = m_splitSource] {
            return WimImage::exportForSplit(source, destination,
                                            [this](quint64 done, quint64 total) {
                                                m_meter.set(qint64(done), qint64(total));
                                                return isRunning();
                                            });
        },
        [this](WimImage::Result result) {
            endMeasuring();
            if (result.outcome == WimImage::Outcome::Failed && isRunning())
                fail(result.error);
            else if (!isRunning())
                cleanup();
            else if (m_options.direct)
                splitStart();
            else
                copyFilesDone();
        });
}
