#include "Log.h"
#include "MountOutput.h"
#include "SyncTool.h"
#include "ViewController.h"

#include <QFileInfo>

// Attaches the source image afresh and records where it is mounted. Runs on the
// main thread inside the main button's action; each tool is waited for.
void ViewController::mountStage()
{
    // Progress is requested right after each tool is launched; it is queued and
    // so shows once the main thread is free, in order.
    updateProgressBarValue(3);
    const SyncTool info =
        SyncTool::run(m_tools.hdiutil, {QStringLiteral("info"), QStringLiteral("-plist")});

    // Earlier mounts of the same image file go first.
    for (const MountOutput::AttachedImage &image : MountOutput::parseAttachedImages(info.output)) {
        if (!MountOutput::isSameImage(image.imagePath, isoPath()))
            continue;
        Log::write(QStringLiteral("finding mount point"));
        for (const QString &mountPoint : image.mountPoints) {
            const SyncTool unmount =
                SyncTool::run(m_tools.diskutil, {QStringLiteral("unmount"), mountPoint});
            Log::write(QStringLiteral("task exit is %1").arg(unmount.exitStatus));
        }
    }

    Log::write(QStringLiteral("mounting ISO"));
    updateProgressBarValue(5);
    const SyncTool attach = SyncTool::run(m_tools.hdiutil, {QStringLiteral("attach"), isoPath()});
    const std::optional<QString> mountPoint =
        MountOutput::mountPointFromAttachOutput(attach.output);
    setMountPath(mountPoint.value_or(QString()));

    const QString path = mountPath();
    if (path.isNull() || path.isEmpty() || !QFileInfo::exists(path)) {
        m_prompts->runAlert(
            QStringLiteral("ISO Mounting Error"),
            QStringLiteral("The ISO could not be mounted. Please verify that all "
                           "disk images are unmounted in Disk Utility and try again"));
        setIsRunning(false);
        cleanup();
        return;
    }
    m_sourceAttached = true;
    stagingStart();
}
