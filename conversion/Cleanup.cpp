#include "FileSystem.h"
#include "Log.h"
#include "MainQueue.h"
#include "PathName.h"
#include "SyncTool.h"
#include "ViewController.h"

#include <QFileInfo>
#include <sys/stat.h>

namespace {

bool isInside(const QString &path, const QString &directory)
{
    return !directory.isEmpty() && path.startsWith(PathName::join(directory, QString()));
}

} // namespace

// Ends a conversion, whichever way it went: removes the temporary directory and
// brings the window back to idle.
void ViewController::cleanup()
{
    Log::write(QStringLiteral("cleaning up"));
    updateProgressText(QStringLiteral("deleting temp files"));
    const QString temp = tempDirectoryPath();
    Log::write(QStringLiteral("deleting temp files at %1")
                   .arg(temp.isNull() ? QStringLiteral("(null)") : temp));

    // Nothing here for a directory that is simply not there (a mount failure,
    // or a second call): only real failures are shown.
    if (!temp.isEmpty() && QFileInfo::exists(temp)) {
        const QString staging = isoTempFolder();
        // The copy keeps the image's read-only modes; open everything up so the
        // removal can get through.
        if (isInside(staging, temp) && QFileInfo::exists(staging)) {
            if (std::optional<Error> error = FileSystem::setPosixPermissions(staging, 0777)) {
                m_prompts->runErrorAlert(*error);
                setIsRunning(false);
                setIsCancelling(true);
            }
        }
        for (const QString &entry : FileSystem::enumerate(temp)) {
            const QString path = PathName::join(temp, entry);
            struct stat info;
            // Links are skipped: changing one would change whatever it points to.
            if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISLNK(info.st_mode))
                FileSystem::setPosixPermissions(path, 0777);
        }
        if (std::optional<Error> error = FileSystem::removeItem(temp))
            m_prompts->runErrorAlert(*error);
    }

    // A conversion stopped before its unmount would leave the source attached
    // (and, on Linux, a file-system process running) after the program ends.
    if (m_sourceAttached) {
        m_sourceAttached = false;
        const SyncTool unmount =
            SyncTool::run(m_tools.hdiutil, {QStringLiteral("unmount"), mountPath()});
        Log::write(QStringLiteral("unmounting ISO: status %1").arg(unmount.exitStatus));
    }

    updateProgressBarValue(0);
    updateProgressText(QStringLiteral(""));
    setIsCancelling(false);

    // The title comes back behind the reports above. Only then may a new
    // conversion start.
    const quint64 conversion = m_activeConversion;
    MainQueue::async(this, [this, conversion] {
        setMainButtonTitle(QStringLiteral("Save..."));
        if (conversion != 0 && conversion == m_activeConversion && !isRunning()) {
            m_activeConversion = 0;
            emit isWindingDownChanged();
            emit conversionEnded(m_succeeded);
        }
    });
}
