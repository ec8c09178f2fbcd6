#include "DriveChoice.h"

#include "StageDetail.h"
#include "Terminal.h"
#include "UDisksDrives.h"

#include <QDir>
#include <cstdio>
#include <unistd.h>

namespace {

// The drives as the disk service tells them now; false, the reason told, when
// it does not answer.
bool askedTheDiskService(UDisksDrives &drives)
{
    QString error;
    if (drives.refresh(&error))
        return true;
    Terminal::print(
        stderr, Cli::tr("isoswm-cli: the disk service (UDisks2) does not answer: %1").arg(error));
    return false;
}

} // namespace

int listWritableDrives()
{
    UDisksDrives drives;
    if (!askedTheDiskService(drives))
        return kExitFailed;
    for (const DriveFacts &drive : drives.devices())
        if (!DriveRules::refusal(drive, 0, QDir::homePath()))
            std::printf("%s\t%s\t%s\n", qPrintable(drive.device),
                        qPrintable(StageDetail::formatBytes(drive.size)), qPrintable(drive.name()));
    return 0;
}

std::variant<DriveFacts, int> chosenDrive(const QString &device)
{
    UDisksDrives drives;
    if (!askedTheDiskService(drives))
        return kExitFailed;
    const std::optional<DriveFacts> drive = drives.find(device);
    if (!drive) {
        Terminal::print(stderr, Cli::tr("isoswm-cli: %1 is not a drive the disk service knows; "
                                        "“isoswm-cli --list-drives” lists those it could write.")
                                    .arg(device));
        return kExitUsage;
    }
    if (const std::optional<QString> why = DriveRules::refusal(*drive, 0, QDir::homePath())) {
        Terminal::print(stderr, QStringLiteral("isoswm-cli: ") + *why);
        return kExitUsage;
    }
    return *drive;
}

std::optional<int> confirmErase(const Settings &s)
{
    if (s.yes)
        return std::nullopt;
    if (!::isatty(STDIN_FILENO))
        return usageError(Cli::tr("nothing is erased unasked: give --yes to write to %1 "
                                  "without a terminal")
                              .arg(s.drive->device));
    Terminal::print(stderr, Cli::tr("Everything on %1 (%2, %3) will be erased.")
                                .arg(s.drive->name(), s.drive->device,
                                     StageDetail::formatBytes(s.drive->size)));
    std::fputs(qPrintable(Cli::tr("Make it the Windows installer? [y/N] ")), stderr);
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return kExitCancelled;
    const QString reply = QString::fromLocal8Bit(answer).trimmed().toLower();
    if (reply == QLatin1String("y") || reply == QLatin1String("yes") || reply == Cli::tr("y") ||
        reply == Cli::tr("yes"))
        return std::nullopt;
    Terminal::print(stderr, Cli::tr("Nothing was written to %1.").arg(s.drive->device));
    return kExitCancelled;
}
