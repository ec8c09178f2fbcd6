#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"

#include <QFileInfo>

namespace {

struct Removal {
    std::optional<Error> permissionError;
    std::optional<Error> removalError;
};

bool isInside(const QString &path, const QString &directory)
{
    return !directory.isEmpty() && path.startsWith(directory + QLatin1Char('/'));
}

// Off the main thread: a full copy of a disc takes seconds to remove.
Removal removeTree(const QString &temporary, const QString &staging, const QString &partial)
{
    Removal removal;
    if (!partial.isEmpty() && QFileInfo::exists(partial)) {
        FileSystem::openUpTree(partial);
        FileSystem::removeItem(partial);
    }
    // Nothing to say about a directory that is simply not there (a mount
    // failure): only real failures are shown.
    if (temporary.isEmpty() || !QFileInfo::exists(temporary))
        return removal;
    // The copy keeps the image's read-only modes; open everything up so the
    // removal can get through.
    if (isInside(staging, temporary) && QFileInfo::exists(staging))
        removal.permissionError = FileSystem::setPosixPermissions(staging, 0777);
    FileSystem::openUpTree(temporary);
    removal.removalError = FileSystem::removeItem(temporary);
    return removal;
}

} // namespace

// Ends a conversion, whichever way it went: removes the temporary directory
// and a partial image, detaches the source, and brings the window back to
// idle. It runs once per conversion; `then` follows its last step.
void Conversion::cleanup(std::function<void()> then)
{
    if (m_cleaningUp)
        return;
    m_cleaningUp = true;
    endMeasuring();
    Log::write(QStringLiteral("cleaning up"));
    report(QT_TR_NOOP("deleting temp files"));
    Log::write(
        QStringLiteral("deleting temp files at %1")
            .arg(m_temporaryDirectory.isNull() ? QStringLiteral("(null)") : m_temporaryDirectory));
    removeTemporaryFiles([this, then = std::move(then)] {
        closeDrive(); // the worker that wrote to it has ended
        detachSource([this, then] {
            finishCleanup();
            if (then)
                then();
            finish();
        });
    });
}

void Conversion::removeTemporaryFiles(std::function<void()> then)
{
    // The verification reads the pieces; stopped, it returns within a chunk.
    joinVerifier();
    m_marker.release();
    inBackground([temporary = m_temporaryDirectory, staging = m_stagingFolder,
                  partial = m_partialFolder] { return removeTree(temporary, staging, partial); },
                 [this, then = std::move(then)](Removal removal) {
                     if (removal.permissionError) {
                         m_prompts->runErrorAlert(*removal.permissionError);
                         setRunning(false);
                         setCancelling(true);
                     }
                     if (removal.removalError)
                         m_prompts->runErrorAlert(*removal.removalError);
                     then();
                 });
}

// A run stopped before its own unmount would leave the source attached (and,
// on Linux, a file-system process running) after the program ends. A volume
// that stays busy is detached all the same, as a last resort.
void Conversion::detachSource(std::function<void()> then)
{
    if (!m_sourceAttached) {
        then();
        return;
    }
    unmountSource(false, [this, then](bool unmounted, const QString &reason) {
        if (unmounted) {
            Log::write(QStringLiteral("unmounted ISO"));
            then();
            return;
        }
        Log::write(QStringLiteral("unmounting ISO failed (%1); detaching it by force").arg(reason));
        unmountSource(true, [this, then](bool detached, const QString &forced) {
            Log::write(detached ? QStringLiteral("detached ISO")
                                : QStringLiteral("detaching ISO failed: %1").arg(forced));
            if (!detached)
                m_prompts->runErrorAlert({tr("The source image could not be unmounted."),
                                          QStringLiteral("%1: %2").arg(m_mountPath, forced)});
            then();
        });
    });
}

void Conversion::finishCleanup()
{
    reportMilestone(0);
    report("");
    setCancelling(false);
    emit cleanedUp();
}

void Conversion::finish()
{
    if (!m_outcome)
        m_outcome = m_cancelled ? Outcome::Cancelled : Outcome::Failed;
    emit finished(*m_outcome);
}
