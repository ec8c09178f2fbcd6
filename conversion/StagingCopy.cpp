#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "ViewController.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdlib>

// Makes the conversion's private temporary directory and copies the mounted
// volume into it on a thread of its own.
void ViewController::stagingStart()
{
    // TMPDIR as given: a folder that does not exist must fail here rather than
    // send the directory somewhere else.
    QString temporaryFolder = qEnvironmentVariable("TMPDIR");
    if (temporaryFolder.isEmpty())
        temporaryFolder = QDir::tempPath();
    QByteArray buffer =
        QFile::encodeName(PathName::join(temporaryFolder, QStringLiteral("iso-XXXXXX")));
    if (!::mkdtemp(buffer.data())) {
        fail(Error::fromErrno(errno, temporaryFolder, QStringLiteral("used for temporary files")));
        return;
    }
    setTempDirectoryPath(QFile::decodeName(buffer));
    Log::write(QStringLiteral("Copying files"));
    updateProgressBarValue(25);
    const QString volumeName = PathName::lastComponent(mountPath());
    setIsoTempFolder(PathName::join(tempDirectoryPath(), volumeName));
    if (volumeName.isEmpty() || volumeName == QLatin1String(".") ||
        volumeName == QLatin1String("..") || volumeName.contains(QLatin1Char('/'))) {
        // A folder of that name would not lie inside the temporary directory.
        fail({QStringLiteral("The mounted volume has no usable folder name."), mountPath()});
        return;
    }

    joinCopyThread();
    const quint64 conversion = m_activeConversion;
    m_copyThread = std::thread(&ViewController::copyThreadMain, this, conversion, mountPath(),
                               isoTempFolder());
}

// On the copy thread. It never waits for the main thread: an error is carried
// to the continuation, which shows it there before anything else happens.
void ViewController::copyThreadMain(quint64 conversion, QString source, QString destination)
{
    std::optional<Error> error = FileSystem::copyItem(
        source, destination, [this](const QString &item) { return shouldCopyItem(item); });
    QMetaObject::invokeMethod(
        this, [this, conversion, error] { copyContinuation(conversion, error); },
        Qt::QueuedConnection);
}

// Asked before each item, the volume's top folder first. Answering the running
// flag is how a cancel stops the copy at its next item.
bool ViewController::shouldCopyItem(const QString &sourcePath)
{
    Log::write(QStringLiteral("Copying %1").arg(sourcePath));
    updateProgressText(QStringLiteral("copying %1").arg(PathName::lastComponent(sourcePath)));
    return isRunning();
}

void ViewController::copyContinuation(quint64 conversion, std::optional<Error> copyError)
{
    joinCopyThread();
    if (conversion != m_activeConversion)
        return;
    if (copyError) {
        m_prompts->runErrorAlert(*copyError);
        setIsRunning(false);
        setIsCancelling(true);
    }
    if (isRunning())
        copyFilesDone();
    else
        cleanup();
}
