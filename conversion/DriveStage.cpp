#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "StickImage.h"
#include "StickWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// A USB installer: the drive is checked again and opened right after the
// inspection, so that polkit asks (if it asks) before the long part of the
// run; then the stick is built as an image in the temporary directory (its
// tree straight from the mount, the verified pieces added one by one) and
// written to the drive in one sequential pass, which is read back.

namespace {

// A temporary folder that fills up is named for what it is.
Error namingFullDisk(Error error, const QString &folder)
{
    if (error.code == ENOSPC || error.code == EDQUOT ||
        error.details.contains(QLatin1String("No space left on device")) ||
        error.details.contains(QLatin1String("Disk full")))
        return {Conversion::tr("There is no space left in “%1”.").arg(folder), error.details,
                ENOSPC};
    return error;
}

} // namespace

void Conversion::openDriveStage()
{
    const DriveFacts &chosen = *m_options.drive;
    report(QT_TR_NOOP("Opening %1"), chosen.name());
    m_drives = std::make_unique<UDisksDrives>();
    QString error;
    if (!m_drives->refresh(&error)) {
        fail({tr("The disk service (UDisks2) does not answer."), error});
        return;
    }
    // The stick may have been swapped since it was chosen.
    const std::optional<DriveFacts> now = m_drives->find(chosen.device);
    if (!now || !now->sameDrive(chosen)) {
        fail({tr("%1 is not there any more.").arg(chosen.name()),
              tr("%1 was removed, or another drive took its place. Choose the drive again.")
                  .arg(chosen.device)});
        return;
    }
    const SourceCheck::StickNeeds needs = SourceCheck::stickNeeded(m_layout);
    if (const std::optional<QString> why =
            DriveRules::refusal(*now, needs.content, QDir::homePath())) {
        fail({tr("The USB installer cannot be written to %1.").arg(now->name()), *why});
        return;
    }
    // Neither the source nor the temporary folder may live on the drive:
    // its file systems are unmounted before anything is built.
    const auto onDrive = [&](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return std::any_of(now->mountPoints.begin(), now->mountPoints.end(),
                           [&](const QString &mount) {
                               return canonical == mount ||
                                      canonical.startsWith(mount + QLatin1Char('/'));
                           });
    };
    if (onDrive(m_options.source) || onDrive(temporaryFolder())) {
        fail({tr("The USB installer cannot be written to %1.").arg(now->name()),
              onDrive(m_options.source)
                  ? tr("The image to convert is on it. Copy the image to another disk first.")
                  : tr("The temporary folder “%1” is on it. Choose another one (TMPDIR).")
                        .arg(temporaryFolder())});
        return;
    }
    m_drive = *now;
    Log::write(QStringLiteral("opening %1 (%2, %3 bytes)").arg(m_drive.device, m_drive.name())
                   .arg(m_drive.size));
    m_openingDrive = true;
    m_drives->unmountAndOpen(m_drive, this,
                             [this](int fd, const QString &why) { driveOpened(fd, why); });
}

void Conversion::driveOpened(int fd, const QString &error)
{
    m_openingDrive = false;
    m_driveFd = fd;
    if (m_cleaningUp) {
        closeDrive();
        return;
    }
    if (fd >= 0 && !driveStillThere()) {
        fail({tr("%1 is not there any more.").arg(m_drive.name()),
              tr("%1 was removed, or another drive took its place. Choose the drive again.")
                  .arg(m_drive.device)});
        return;
    }
    if (!isRunning()) {
        cleanup();
        return;
    }
    if (fd < 0) {
        fail({tr("%1 could not be opened.").arg(m_drive.name()), error});
        return;
    }
    stagingStart();
}

// The drive opened is still the one checked: a stick swapped while polkit
// asked, or during the build, is never written.
bool Conversion::driveStillThere()
{
    if (!m_drives->refresh())
        return false;
    const std::optional<DriveFacts> now = m_drives->find(m_drive.device);
    uint64_t size = 0;
    return now && now->sameDrive(m_drive) && ::ioctl(m_driveFd, BLKGETSIZE64, &size) == 0 &&
           qint64(size) == m_drive.size;
}

QString Conversion::sourcesName() const
{
    return QFileInfo(m_layout.sourcesFolder).fileName();
}

// The stick's image, of the drive's size, with its partition table, its file
// system and the source's files but for the Windows image.
void Conversion::stickTreeStage()
{
    m_stickImage = PathName::join(m_temporaryDirectory, QStringLiteral("stick.img"));
    m_stickBase = -1;
    m_stickTotal = m_layout.treeBytes - m_layout.imageBytes;
    Log::write(QStringLiteral("building the USB installer in %1").arg(m_stickImage));
    report(QT_TR_NOOP("Copying files to the USB installer"));
    beginMeasuring(StageDetail::Stage::Stick, m_stickTotal);
    // The empty file system first: it reads nothing from the source.
    inBackground(
        [this, image = m_stickImage, size = m_drive.size,
         label = PathName::lastComponent(m_mountPath)] {
            return StickImage::create(image, size, label, [this] { return isRunning(); });
        },
        [this](std::optional<Error> error) {
            if (error || !isRunning()) {
                stickStageEnded(error);
                return;
            }
            m_stickBase = FileSystem::allocatedBytes(m_stickImage);
            stickFilesStage();
        });
}

void Conversion::stickFilesStage()
{
    m_readingSource = true;
    inBackground(
        [this, image = m_stickImage, mount = m_mountPath,
         excluded = QDir(m_mountPath).relativeFilePath(m_layout.imagePath)] {
            return StickImage::copyTree(image, mount, {excluded}, [this] { return isRunning(); });
        },
        [this](std::optional<Error> error) {
            if (!stickStageEnded(error))
                return;
            reportMilestone(35);
            splitOrExport();
        });
}

// A stage that fills the stick's image has ended: true when the run goes on.
bool Conversion::stickStageEnded(const std::optional<Error> &error)
{
    endMeasuring();
    if (error && isRunning())
        fail(namingFullDisk(*error, temporaryFolder()));
    else if (!isRunning())
        cleanup();
    return !error && isRunning();
}

void Conversion::splitOrExport()
{
    if (m_layout.needsExport())
        exportStage();
    else
        splitStart();
}

// The verified pieces go into the stick's image one by one, each removed once
// it is in, so they are never in the temporary folder twice.
void Conversion::stickPiecesStage()
{
    m_showingVerification = false;
    endMeasuring();
    reportMilestone(63);
    const QStringList pieces =
        QDir(m_piecesFolder).entryList({QStringLiteral("install*.swm")}, QDir::Files, QDir::Name);
    m_stickTotal = 0;
    for (const QString &piece : pieces)
        m_stickTotal += QFileInfo(PathName::join(m_piecesFolder, piece)).size();
    m_stickBase = FileSystem::allocatedBytes(m_stickImage);
    report(QT_TR_NOOP("Copying install.swm to the USB installer"));
    beginMeasuring(StageDetail::Stage::Pieces, m_stickTotal);
    inBackground(
        [this, pieces, folder = m_piecesFolder, image = m_stickImage,
         sources = QLatin1Char('/') + sourcesName()]() -> std::optional<Error> {
            const StickImage::KeepGoing going = [this] { return isRunning(); };
            for (const QString &piece : pieces) {
                const QString path = PathName::join(folder, piece);
                Log::write(QStringLiteral("adding %1 to the USB installer").arg(piece));
                if (std::optional<Error> error = StickImage::copyFile(image, path, sources, going))
                    return error;
                if (std::optional<Error> error = FileSystem::removeItem(path))
                    return error;
            }
            return std::nullopt;
        },
        [this](std::optional<Error> error) {
            if (!stickStageEnded(error))
                return;
            reportMilestone(70);
            // Nothing more is read from the source.
            Log::write(QStringLiteral("unmounting ISO"));
            unmountSource(false, [this](bool unmounted, const QString &reason) {
                if (!unmounted)
                    Log::write(QStringLiteral("unmounting ISO failed (%1); cleanup will detach it")
                                   .arg(reason));
                if (isRunning())
                    writeStage();
                else
                    cleanup();
            });
        });
}

void Conversion::writeStage()
{
    if (!driveStillThere()) {
        fail({tr("%1 is not there any more.").arg(m_drive.name()),
              tr("%1 was removed, or another drive took its place. Nothing was written to "
                 "it.")
                  .arg(m_drive.device)});
        return;
    }
    Log::write(QStringLiteral("writing %1 to %2").arg(m_stickImage, m_drive.device));
    report(QT_TR_NOOP("Writing to %1"), m_drive.name());
    beginMeasuring(StageDetail::Stage::Write, 0);
    auto phase = std::make_shared<StickWriter::Phase>(StickWriter::Phase::Writing);
    m_driveTouched = false;
    inBackground(
        [this, phase, image = m_stickImage, fd = m_driveFd] {
            return StickWriter::write(
                image, fd, [this, phase](StickWriter::Phase now, qint64 done, qint64 total) {
                    if (now != *phase) {
                        *phase = now;
                        // The read-back is a stage of its own on screen.
                        QMetaObject::invokeMethod(
                            this,
                            [this, total] {
                                if (m_meter.stage() != StageDetail::Stage::Write)
                                    return;
                                reportMilestone(96);
                                report(QT_TR_NOOP("Checking %1"), m_drive.name());
                                beginMeasuring(StageDetail::Stage::ReadBack, total);
                            },
                            Qt::QueuedConnection);
                        return isRunning();
                    }
                    m_meter.set(done, total);
                    return isRunning();
                },
                &m_driveTouched);
        },
        [this](std::optional<Error> error) { driveWritten(std::move(error)); });
}

void Conversion::driveWritten(std::optional<Error> error)
{
    endMeasuring();
    closeDrive();
    m_drives->rescan(m_drive);
    // Whatever stopped the write after it began, the writer took the tables
    // away again: the stick never looks like a finished one.
    const QString erased =
        tr("%1 was left without a partition table; write it again, or format it.")
            .arg(m_drive.name());
    if (error && (!isRunning() || error->code == ECANCELED)) {
        if (m_driveTouched)
            emit notice(erased);
        cleanup();
        return;
    }
    if (error) {
        Log::write(QStringLiteral("writing the drive failed: %1").arg(error->details));
        if (m_driveTouched)
            error->details += (error->details.isEmpty() ? QString() : QStringLiteral(" ")) + erased;
        fail(*error);
        return;
    }
    m_outcome = Outcome::Succeeded;
    setRunning(false);
    reportMilestone(99);
    const DriveFacts drive = m_drive;
    cleanup([this, drive] {
        const QString title = tr("USB installer completed");
        const QString text = tr("%1 now installs Windows on computers that start from USB "
                                "with UEFI. It can be removed.")
                                 .arg(drive.name());
        if (!drive.canPowerOff) {
            m_prompts->runAlert(title, text);
            return;
        }
        if (!m_prompts->runChoice(title, text, tr("Power Off")))
            return;
        // The answer comes after this run has gone; the prompts stay.
        Prompts *prompts = m_prompts;
        m_drives->powerOff(drive, QCoreApplication::instance(), [prompts](const QString &why) {
            if (!why.isEmpty())
                prompts->runErrorAlert({why, QString()});
        });
    });
}

void Conversion::closeDrive()
{
    if (m_driveFd >= 0)
        ::close(std::exchange(m_driveFd, -1));
}
