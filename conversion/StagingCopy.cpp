#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cerrno>

namespace {

// A disk that fills up is named for what it is, not for the file that did not fit.
Error spaceOrError(const Error &error, const QString &folder)
{
    if (error.code != ENOSPC && error.code != EDQUOT)
        return error;
    return {
        QCoreApplication::translate("Conversion", "There is no space left in “%1”.").arg(folder),
        error.details, error.code};
}

} // namespace

// Makes the conversion's private temporary directory and copies the mounted
// volume into it on the worker thread. The direct path copies nothing and
// splits straight from the mount.
void Conversion::stagingStart()
{
    if (!makeTemporaryDirectory())
        return;
    if (m_options.direct) {
        reportMilestone(25);
        m_splitSource = m_layout.imagePath;
        m_piecesFolder = PathName::join(m_temporaryDirectory, QStringLiteral("sources"));
        QDir().mkpath(m_piecesFolder);
        if (m_options.drive)
            stickTreeStage();
        else
            splitOrExport();
        return;
    }
    Log::write(QStringLiteral("Copying files"));
    reportMilestone(25);
    const QString volumeName = PathName::lastComponent(m_mountPath);
    m_stagingFolder = PathName::join(m_temporaryDirectory, volumeName);
    emit stagingFolderChanged(m_stagingFolder);
    if (volumeName.isEmpty() || volumeName == QLatin1String(".") ||
        volumeName == QLatin1String("..") || volumeName.contains(QLatin1Char('/'))) {
        // A folder of that name would not lie inside the temporary directory.
        fail({tr("The mounted volume has no usable folder name."), m_mountPath});
        return;
    }
    // A solid image is not copied: the export reads it from the mount.
    const qint64 skipped = m_layout.needsExport() ? m_layout.imageBytes : 0;
    // The copy's name shows before its amounts (the worker names each item again).
    report(QT_TR_NOOP("copying %1"), volumeName, true);
    beginMeasuring(StageDetail::Stage::Copy, m_layout.treeBytes - skipped);
    FileSystem::CopyCallbacks callbacks{
        [this](const QString &item) { return shouldCopyItem(item); },
        [this](qint64 bytes) {
            m_meter.add(bytes);
            return isRunning();
        }};
    m_readingSource = true;
    inBackground([source = m_mountPath, destination = m_stagingFolder,
                  callbacks] { return FileSystem::copyItem(source, destination, callbacks); },
                 [this](std::optional<Error> error) { copyContinuation(std::move(error)); });
}

bool Conversion::makeTemporaryDirectory()
{
    const QString folder = temporaryFolder();
    QTemporaryDir directory(PathName::join(folder, QStringLiteral("iso-XXXXXX")));
    if (!directory.isValid()) {
        fail({tr("No temporary folder could be made in “%1”.").arg(folder),
              directory.errorString()});
        return false;
    }
    directory.setAutoRemove(false);
    m_temporaryDirectory = directory.path();
    m_marker.create(m_temporaryDirectory);
    emit temporaryDirectoryChanged(m_temporaryDirectory);
    return true;
}

// Asked on the worker thread before each item, the volume's top folder first.
bool Conversion::shouldCopyItem(const QString &sourcePath)
{
    if (m_layout.needsExport() && sourcePath == m_layout.imagePath)
        return false;
    // After a cancel nothing more is copied, and "Cancelling, please wait"
    // stays on screen.
    if (!isRunning())
        return false;
    Log::write(QStringLiteral("Copying %1").arg(sourcePath));
    report(QT_TR_NOOP("copying %1"), PathName::lastComponent(sourcePath), true);
    return true;
}

void Conversion::copyContinuation(std::optional<Error> copyError)
{
    endMeasuring();
    if (copyError && isRunning()) {
        fail(spaceOrError(*copyError, temporaryFolder()));
        return;
    }
    if (!isRunning())
        cleanup();
    else if (m_layout.needsExport())
        exportStage();
    else
        copyFilesDone();
}
