#include "MountStep.h"

#include "Conversion.h"
#include "Log.h"
#include "MountOutput.h"
#include "Prompts.h"
#include "RunContext.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// A run stopped before its own unmount would leave the source attached (and,
// on Linux, a file-system process running) after the program ends. A volume
// that stays busy is detached all the same, as a last resort.
void detach(RunContext &context, const std::shared_ptr<SourceMount> &source,
            std::function<void()> then)
{
    if (!source->attached()) {
        then();
        return;
    }
    source->unmount(false, [&context, source, then](bool unmounted, const QString &reason) {
        if (unmounted) {
            Log::write(QStringLiteral("unmounted ISO"));
            then();
            return;
        }
        Log::write(QStringLiteral("unmounting ISO failed (%1); detaching it by force").arg(reason));
        source->unmount(true, [&context, source, then](bool detached, const QString &forced) {
            Log::write(detached ? QStringLiteral("detached ISO")
                                : QStringLiteral("detaching ISO failed: %1").arg(forced));
            if (!detached)
                context.prompts()->runErrorAlert(
                    {Conversion::tr("The source image could not be unmounted."),
                     QStringLiteral("%1: %2").arg(source->path(), forced)});
            then();
        });
    });
}

} // namespace

MountStep::MountStep(QString image, ToolPaths tools, std::shared_ptr<SourceMount> &mounted)
    : m_image(std::move(image)), m_tools(std::move(tools)), m_mounted(mounted)
{}

void MountStep::run()
{
    m_mounted = std::make_shared<SourceMount>(m_tools.hdiutil, m_image);
    context().stallWatch().watch(m_mounted.get());
    context().teardown().push([&context = context(), source = m_mounted](auto next) {
        detach(context, source, std::move(next));
    });
    m_mounted->runTool(m_tools.hdiutil, {QStringLiteral("info"), QStringLiteral("-plist")},
                       [this](const ToolRun::Result &info) { unmountEarlierMounts(info.output); });
    // Requested right after the launch; it shows once the main thread is free.
    context().reportMilestone(3);
}

void MountStep::stop()
{
    m_mounted->stopToolSoon();
}

void MountStep::unmountEarlierMounts(const QByteArray &list)
{
    if (!context().running()) {
        end(StepEnd::stopped());
        return;
    }
    const qint64 self = QCoreApplication::applicationPid();
    QStringList mountPoints;
    for (const MountOutput::AttachedImage &image : MountOutput::parseAttachedImages(list)) {
        if (!MountOutput::isSameImage(image.imagePath, m_image))
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

void MountStep::unmountNext(QStringList mountPoints)
{
    if (mountPoints.isEmpty()) {
        attach();
        return;
    }
    const QString mountPoint = mountPoints.takeFirst();
    m_mounted->runTool(m_tools.diskutil, {QStringLiteral("unmount"), mountPoint},
                       [this, mountPoints](const ToolRun::Result &unmount) {
                           Log::write(QStringLiteral("task exit is %1").arg(unmount.status));
                           if (!context().running())
                               end(StepEnd::stopped());
                           else
                               unmountNext(mountPoints);
                       });
}

void MountStep::attach()
{
    Log::write(QStringLiteral("mounting ISO"));
    m_mounted->runTool(
        m_tools.hdiutil, {QStringLiteral("attach"), m_image},
        [this](const ToolRun::Result &attach) { attached(attach.output, attach.reason()); });
    context().reportMilestone(5);
}

void MountStep::attached(const QByteArray &output, const QString &reason)
{
    const QString mountPoint = MountOutput::mountPointFromAttachOutput(output).value_or(QString());
    emit context().mountPathChanged(mountPoint);
    if (mountPoint.isEmpty() || !QFileInfo::exists(mountPoint)) {
        // A cancelled run that got no mount simply ends.
        if (context().running())
            context().prompts()->runAlert(
                Conversion::tr("ISO Mounting Error"),
                Conversion::tr("The ISO could not be mounted. Please verify that all disk "
                               "images are unmounted in Disk Utility and try again"),
                reason);
        context().setRunning(false);
        end(StepEnd::stopped());
        return;
    }
    m_mounted->setAttached(mountPoint);
    finish(std::nullopt);
}
