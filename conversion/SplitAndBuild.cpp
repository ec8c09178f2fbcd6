#include "Bundle.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "SyncTool.h"
#include "ViewController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

// FAT32 cannot hold a file of 4 GiB or more.
constexpr qint64 kFat32FileLimit = 4LL * 1024 * 1024 * 1024;

QString nullable(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

QString toolFailure(const QString &tool, int status, const QString &errorText)
{
    const QString text = errorText.trimmed();
    if (!text.isEmpty())
        return text;
    return QStringLiteral("%1 ended with status %2.").arg(tool).arg(status);
}

// A free name beside the destination for the image while it is being built, so
// that an existing file there stays as it is until the new one is complete.
std::optional<QString> reservePartialPath(const QString &destination, int *error)
{
    QByteArray name = QFile::encodeName(destination + QStringLiteral(".isoswm-XXXXXX.part"));
    const int fd = ::mkstemps(name.data(), 5);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    ::close(fd);
    // The build tool refuses an existing output file; the name stays ours in
    // practice since it is random and only just made.
    ::unlink(name.constData());
    return QFile::decodeName(name);
}

} // namespace

// The staging copy is complete: unmount the source, then split install.wim.
void ViewController::copyFilesDone()
{
    updateProgressBarValue(35);
    Log::write(QStringLiteral("unmounting ISO"));
    updateProgressText(QStringLiteral("Unmounting ISO"));
    SyncTool::run(m_tools.hdiutil, {QStringLiteral("unmount"), mountPath()});
    m_sourceAttached = false;
    updateProgressBarValue(40);

    const std::optional<QString> tool =
        Bundle::pathForResource(QStringLiteral("wimsplit"), QString(), QStringLiteral("tools/bin"));
    if (!tool) {
        fail({QStringLiteral("The split tool “wimsplit” is missing."),
              QStringLiteral("isoswm expects it at %1. Reinstall isoswm.")
                  .arg(PathName::join(Bundle::resourcesPath(),
                                      QStringLiteral("tools/bin/wimsplit")))});
        return;
    }

    // The image's names come from a case-insensitive world.
    const QString staging = isoTempFolder();
    const QString sourcesFolder = FileSystem::childIgnoringCase(staging, QStringLiteral("sources"))
                                      .value_or(PathName::join(staging, QStringLiteral("sources")));
    if (std::optional<Error> error = FileSystem::setPosixPermissions(sourcesFolder, 0777)) {
        fail(*error);
        return;
    }
    const std::optional<QString> wimPath =
        FileSystem::childIgnoringCase(sourcesFolder, QStringLiteral("install.wim"));
    if (!wimPath || !QFileInfo(*wimPath).isFile()) {
        fail(Error::fromErrno(ENOENT, PathName::join(sourcesFolder, QStringLiteral("install.wim")),
                              QStringLiteral("found")));
        return;
    }
    const QString swmPath = PathName::join(sourcesFolder, QStringLiteral("install.swm"));

    const quint64 conversion = m_activeConversion;
    m_splitErrorText.clear();
    auto *runner = new QNTaskWrapperWithBlocks(
        [this] { updateProgressText(QStringLiteral("Splitting install.wim")); },
        [this, conversion, sourcesFolder, wim = *wimPath, swmPath] {
            splitEnded(conversion, sourcesFolder, wim, swmPath);
        },
        [](const QString &text) { Log::write(QStringLiteral("output:%1").arg(nullable(text))); },
        [this](const QString &text) {
            Log::write(QStringLiteral("error: %1").arg(nullable(text)));
            m_splitErrorText += text;
        },
        {*tool, *wimPath, swmPath, QStringLiteral("2048")});
    runner->setProperty("conversion", conversion);
    setSplitWrapper(runner);
    splitWrapper()->startProcess();
}

void ViewController::splitEnded(quint64 conversion, const QString &sourcesFolder,
                                const QString &wimPath, const QString &swmPath)
{
    if (conversion != m_activeConversion)
        return;
    if (!isRunning()) {
        cleanup();
        return;
    }

    // A split counts only when wimsplit says so and its pieces are there, each
    // small enough for FAT32.
    const int status = splitWrapper() ? splitWrapper()->terminationStatus() : -1;
    if (status != 0) {
        fail({QStringLiteral("install.wim could not be split."),
              toolFailure(QStringLiteral("wimsplit"), status, m_splitErrorText)});
        return;
    }
    if (!QFileInfo(swmPath).isFile()) {
        fail({QStringLiteral("install.wim could not be split."),
              QStringLiteral("wimsplit ended without writing %1.").arg(swmPath)});
        return;
    }
    static const QRegularExpression piece(QStringLiteral("^install[0-9]*\\.swm$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QFileInfoList entries = QDir(sourcesFolder).entryInfoList(QDir::Files);
    for (const QFileInfo &entry : entries) {
        if (piece.match(entry.fileName()).hasMatch() && entry.size() >= kFat32FileLimit) {
            fail({QStringLiteral("A piece of the split image is too large for FAT32."),
                  QStringLiteral("%1 holds %2 bytes; FAT32 holds files below 4 GiB. The image "
                                 "contains a single resource larger than that, which cannot be "
                                 "split.")
                      .arg(entry.fileName())
                      .arg(entry.size())});
            return;
        }
    }

    updateProgressBarValue(80);
    Log::write(QStringLiteral("removing install.wim"));
    if (std::optional<Error> error = FileSystem::removeItem(wimPath)) {
        fail(*error);
        return;
    }
    startBuild();
}

void ViewController::startBuild()
{
    int error = 0;
    const std::optional<QString> partial = reservePartialPath(saveISOPath(), &error);
    if (!partial) {
        fail(Error::fromErrno(error, QFileInfo(saveISOPath()).absolutePath(),
                              QStringLiteral("written to")));
        return;
    }
    const quint64 conversion = m_activeConversion;
    m_buildErrorText.clear();
    const auto log = [](const QString &text) {
        Log::write(QStringLiteral("output:%1").arg(nullable(text)));
    };
    auto *runner = new QNTaskWrapperWithBlocks(
        [this] { updateProgressText(QStringLiteral("Creating ISO")); },
        [this, conversion, path = *partial] { buildEnded(conversion, path); }, log,
        [this, log](const QString &text) {
            log(text);
            m_buildErrorText += text;
        },
        {m_tools.hdiutil, QStringLiteral("makehybrid"), QStringLiteral("-iso"),
         QStringLiteral("-udf"), QStringLiteral("-o"), *partial, isoTempFolder()});
    runner->setProperty("conversion", conversion);
    setCreateISOTask(runner);
    createISOTask()->startProcess();
}

void ViewController::buildEnded(quint64 conversion, const QString &partialPath)
{
    if (conversion != m_activeConversion)
        return;
    if (!isRunning()) {
        // Stopped: the child is gone, so what it wrote can go too.
        QFile::remove(partialPath);
        cleanup();
        return;
    }

    const int status = createISOTask() ? createISOTask()->terminationStatus() : -1;
    const QFileInfo built(partialPath);
    if (status != 0 || !built.isFile() || built.size() == 0) {
        QFile::remove(partialPath);
        fail({QStringLiteral("The new ISO could not be created."),
              toolFailure(QStringLiteral("hdiutil makehybrid"), status, m_buildErrorText)});
        return;
    }
    // Only a complete image takes the destination's place, in one step.
    if (::rename(QFile::encodeName(partialPath).constData(),
                 QFile::encodeName(saveISOPath()).constData()) != 0) {
        const int err = errno;
        QFile::remove(partialPath);
        fail(Error::fromErrno(err, saveISOPath(), QStringLiteral("saved")));
        return;
    }

    setIsRunning(false);
    updateProgressBarValue(90);
    m_succeeded = true;
    cleanup();
    m_prompts->runAlert(QStringLiteral("ISO creation completed"),
                        QStringLiteral("The ISO has been completed successfully. Use it with Boot "
                                       "Camp Assistant to install Windows 10."));
}
