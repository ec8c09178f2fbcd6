#include "Conversion.h"
#include "Log.h"
#include "MountOutput.h"

#include <QCoreApplication>
#include <QFileInfo>

// Attaches the source image afresh and records where it is mounted. The tools
// are waited for without holding the main thread; a cancel meanwhile takes
// effect when the tool in hand has returned.
void Conversion::mountStage()
{
    runTool(m_tools.hdiutil, {QStringLiteral("info"), QStringLiteral("-plist")},
            [this](const ToolRun::Result &info) { unmountEarlierMounts(info.output); });
    // Requested right after the launch; it shows once the main thread is free.
    reportMilestone(3);
}

void Conversion::unmountEarlierMounts(const QByteArray &list)
{
    if (!isRunning()) {
        cleanup();
        return;
    }
    const qint64 self = QCoreApplication::applicationPid();
    QStringList mountPoints;
    for (const MountOutput::AttachedImage &image : MountOutput::parseAttachedImages(list)) {
        if (!MountOutput::isSameImage(image.imagePath, m_options.source))
            continue;
        Log::write(QStringLiteral("finding mount point"));
        // Another live run (or program) holds this mount: it is not ours.
        if (image.ownerAlive && image.ownerPid != self) {
            Log::write(QStringLiteral("leaving %1 alone: in use by process %2")
                           .arg(image.mountPoints.join(QStringLiteral(", ")))
                           .arg(image.ownerPid));
            continue;
        }
        mountPoints << image.mountPoints;
    }
    unmountNext(mountPoints);
}

void Conversion::unmountNext(QStringList mountPoints)
{
    if (mountPoints.isEmpty()) {
        attachSource();
        return;
    }
    const QString mountPoint = mountPoints.takeFirst();
    runTool(m_tools.diskutil, {QStringLiteral("unmount"), mountPoint},
            [this, mountPoints](const ToolRun::Result &unmount) {
                Log::write(QStringLiteral("task exit is %1").arg(unmount.status));
                if (!isRunning())
                    cleanup();
                else
                    unmountNext(mountPoints);
            });
}

void Conversion::attachSource()
{
    Log::write(QStringLiteral("mounting ISO"));
    runTool(m_tools.hdiutil, {QStringLiteral("attach"), m_options.source},
            [this](const ToolRun::Result &attach) { attached(attach.output, attach.reason()); });
    reportMilestone(5);
}

void Conversion::attached(const QByteArray &output, const QString &reason)
{
    const std::optional<QString> mountPoint = MountOutput::mountPointFromAttachOutput(output);
    m_mountPath = mountPoint.value_or(QString());
    emit mountPathChanged(m_mountPath);
    if (m_mountPath.isEmpty() || !QFileInfo::exists(m_mountPath)) {
        // A cancelled run that got no mount simply ends.
        if (isRunning())
            m_prompts->runAlert(tr("ISO Mounting Error"),
                                tr("The ISO could not be mounted. Please verify that all disk "
                                   "images are unmounted in Disk Utility and try again"),
                                reason);
        setRunning(false);
        cleanup();
        return;
    }
    m_sourceAttached = true;
    if (!isRunning()) {
        cleanup();
        return;
    }
    inspectStage();
}
