#include "StagingCopyStep.h"

#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"

void StagingCopyStep::run()
{
    Log::write(QStringLiteral("Copying files"));
    const QString volumeName = PathName::lastComponent(m_mountPath);
    m_work.staging = PathName::join(m_work.path, volumeName);
    emit context().stagingFolderChanged(m_work.staging);
    if (volumeName.isEmpty() || volumeName == QLatin1String(".") ||
        volumeName == QLatin1String("..") || volumeName.contains(QLatin1Char('/'))) {
        // A folder of that name would not lie inside the temporary directory.
        finish(Error{Conversion::tr("The mounted volume has no usable folder name."), m_mountPath});
        return;
    }
    const qint64 skipped = m_layout.needsExport() ? m_layout.imageBytes : 0;
    // The copy's name shows before its amounts (the worker names each item again).
    context().report(QT_TRANSLATE_NOOP("Conversion", "copying %1"), volumeName, true);
    measure(StageDetail::Stage::Copy, m_layout.treeBytes - skipped);
    const FileSystem::CopyCallbacks callbacks{
        [this](const QString &item) { return shouldCopyItem(item); },
        [this](qint64 bytes) {
            context().meter().add(bytes);
            return keepGoing();
        }};
    inBackground([source = m_mountPath, destination = m_work.staging,
                  callbacks] { return FileSystem::copyItem(source, destination, callbacks); },
                 [this](std::optional<Error> error) {
                     context().endMeasuring();
                     finish(error ? std::optional(fullDiskNamed(*error, m_work.parent)) : error);
                 },
                 true);
}

// Asked on the worker thread before each item, the volume's top folder first.
bool StagingCopyStep::shouldCopyItem(const QString &sourcePath)
{
    if (m_layout.needsExport() && sourcePath == m_layout.imagePath)
        return false;
    // After a cancel nothing more is copied, and "Cancelling, please wait"
    // stays on screen.
    if (!keepGoing())
        return false;
    Log::write(QStringLiteral("Copying %1").arg(sourcePath));
    context().report(QT_TRANSLATE_NOOP("Conversion", "copying %1"),
                     PathName::lastComponent(sourcePath), true);
    return true;
}
