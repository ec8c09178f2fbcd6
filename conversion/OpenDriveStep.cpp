#include "OpenDriveStep.h"

#include "Conversion.h"
#include "Log.h"
#include "RunContext.h"
#include "UDisksDrives.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>

Error OpenDriveStep::gone(const DriveFacts &drive)
{
    return {Conversion::tr("%1 is not there any more.").arg(drive.name()),
            Conversion::tr("%1 was removed, or another drive took its place. Choose the drive "
                           "again.")
                .arg(drive.device)};
}

QString OpenDriveStep::leftWithoutTable(const DriveFacts &drive)
{
    return Conversion::tr("%1 was left without a partition table; write it again, or format it.")
        .arg(drive.name());
}

void OpenDriveStep::run()
{
    const DriveFacts &chosen = m_input.chosen;
    context().report(QT_TRANSLATE_NOOP("Conversion", "Opening %1"), chosen.name());
    m_service = std::make_shared<UDisksDrives>();
    QString error;
    if (!m_service->refresh(&error)) {
        finish(Error{Conversion::tr("The disk service (UDisks2) does not answer."), error});
        return;
    }
    // The stick may have been swapped since it was chosen.
    const std::optional<DriveFacts> now = m_service->find(chosen.device);
    if (!now || !now->sameDrive(chosen)) {
        finish(gone(chosen));
        return;
    }
    if (std::optional<Error> refused = check(*now)) {
        finish(refused);
        return;
    }
    m_drive.facts = *now;
    Log::write(
        QStringLiteral("opening %1 (%2, %3 bytes)").arg(now->device, now->name()).arg(now->size));
    m_service->unmountAndOpen(*now, this, [this](int fd, const QString &why) { opened(fd, why); });
}

// Too small for this source, or holding the source or the temporary folder:
// its file systems are unmounted before anything is built.
std::optional<Error> OpenDriveStep::check(const DriveFacts &now) const
{
    const QString refused =
        Conversion::tr("The USB installer cannot be written to %1.").arg(now.name());
    if (const std::optional<QString> why =
            DriveRules::refusal(now, m_input.content, QDir::homePath()))
        return Error{refused, *why};
    const auto onDrive = [&](const QString &path) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return std::any_of(
            now.mountPoints.begin(), now.mountPoints.end(), [&](const QString &mount) {
                return canonical == mount || canonical.startsWith(mount + QLatin1Char('/'));
            });
    };
    if (onDrive(m_input.sourceImage))
        return Error{refused, Conversion::tr("The image to convert is on it. Copy the image to "
                                             "another disk first.")};
    if (onDrive(m_input.temporaryFolder))
        return Error{refused,
                     Conversion::tr("The temporary folder “%1” is on it. Choose another one "
                                    "(TMPDIR).")
                         .arg(m_input.temporaryFolder)};
    return std::nullopt;
}

void OpenDriveStep::opened(int fd, const QString &error)
{
    m_drive.fd = fd;
    m_drive.service = m_service;
    if (fd >= 0)
        context().teardown().push([this](auto next) {
            m_drive.close();
            if (m_drive.erased)
                emit context().notice(leftWithoutTable(m_drive.facts));
            next();
        });
    if (fd >= 0 && !m_drive.stillThere())
        finish(gone(m_drive.facts));
    else if (fd < 0 && context().running())
        finish(Error{Conversion::tr("%1 could not be opened.").arg(m_drive.facts.name()), error});
    else
        finish(std::nullopt);
}

// The unmounts and the opening stop here; a dialog polkit shows already is
// answered for nothing, and a drive opened after all is closed at once.
void OpenDriveStep::stop()
{
    if (m_drive.service || !m_service)
        return;
    m_service.reset();
    QTimer::singleShot(0, this, [this] { end(StepEnd::stopped()); });
}
