#include "DriveRules.h"

#include "StageDetail.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

struct DriveText {
    Q_DECLARE_TR_FUNCTIONS(DriveRules)
};

// A file system the running system lives on.
bool holdsTheSystem(const QString &mountPoint, const QString &home)
{
    const auto within = [&](const QString &folder) {
        return mountPoint == folder || mountPoint.startsWith(folder + QLatin1Char('/'));
    };
    return mountPoint == QLatin1String("/") || within(QStringLiteral("/boot")) ||
           within(QStringLiteral("/usr")) ||
           (!home.isEmpty() &&
            (home == mountPoint || home.startsWith(mountPoint + QLatin1Char('/'))));
}

} // namespace

QString DriveFacts::name() const
{
    if (loop)
        return DriveText::tr("Disk image %1").arg(QFileInfo(backingFile).fileName());
    const QString both = (vendor.trimmed() + QLatin1Char(' ') + model.trimmed()).trimmed();
    return both.isEmpty() ? device : both;
}

namespace DriveRules {

qint64 neededFor(qint64 contentBytes)
{
    // 2 MiB of tables at the ends, and 2 % plus 32 MiB for the FATs and the
    // half-used clusters of a few thousand files.
    return contentBytes + contentBytes / 50 + (34LL << 20);
}

std::optional<QString> refusal(const DriveFacts &drive, qint64 contentBytes, const QString &home)
{
    if (drive.partition)
        return DriveText::tr("%1 is a partition; choose the whole drive it is on.")
            .arg(drive.device);
    if (drive.size <= 0)
        return DriveText::tr("%1 holds no medium.").arg(drive.name());
    if (drive.optical)
        return DriveText::tr("%1 is an optical drive.").arg(drive.name());
    if (!drive.removable && !drive.loop)
        return DriveText::tr("%1 is a fixed disk of this computer, not a removable drive.")
            .arg(drive.name());
    for (const QString &point : drive.mountPoints)
        if (holdsTheSystem(point, home))
            return DriveText::tr("%1 holds “%2”, which this computer is running from.")
                .arg(drive.name(), point);
    if (drive.swapInUse)
        return DriveText::tr("%1 holds swap space in use.").arg(drive.name());
    if (drive.readOnly)
        return DriveText::tr("%1 is read-only.").arg(drive.name());
    if (contentBytes > 0 && drive.size < neededFor(contentBytes))
        return DriveText::tr("%1 holds %2; the new installer needs %3.")
            .arg(drive.name(), StageDetail::formatBytes(drive.size),
                 StageDetail::formatBytes(neededFor(contentBytes)));
    return std::nullopt;
}

} // namespace DriveRules
