// The USB installer, step by step: the drive is checked again and opened
// right after the inspection and tested for the room it claims (which takes
// its old tables away), then the stick is built as an image in the
// temporary directory (its tree straight from the mount, then the pieces'
// places) while each file goes on to the drive as soon as it is in (the
// pieces straight from themselves, as they are verified); the tables go
// last, and everything is read back.

#include "Conversion.h"
#include "OpenDriveStep.h"
#include "Pipeline.h"
#include "ProbeStep.h"
#include "Prompts.h"
#include "StickSteps.h"
#include "StickStream.h"
#include "ThreadStep.h"
#include "UDisksDrives.h"
#include "UnmountStep.h"
#include "VerifyStep.h"
#include "WorkFolderStep.h"
#include "WriteStep.h"

#include <QCoreApplication>
#include <QDir>

namespace Pipelines {

namespace {

// The closing alert names the drive; where it can, the user may power it off.
void completed(const OpenDrive &drive, Prompts *prompts)
{
    const DriveFacts &facts = drive.facts;
    const QString title = Conversion::tr("USB installer completed");
    const QString text = Conversion::tr("%1 now installs Windows on computers that start from "
                                        "USB with UEFI. It can be removed.")
                             .arg(facts.name());
    if (!facts.canPowerOff) {
        prompts->runAlert(title, text);
        return;
    }
    if (!prompts->runChoice(title, text, Conversion::tr("Power Off")))
        return;
    // The answer comes after this run has gone; the prompts stay.
    drive.service->powerOff(facts, QCoreApplication::instance(), [prompts](const QString &why) {
        if (!why.isEmpty())
            prompts->runErrorAlert({why, QString()});
    });
}

StickOutput stickOutput(RunValues &v)
{
    return {v.drive, v.stickImage, v.stickStream, v.temporaryFolder};
}

std::unique_ptr<Step> stickTree(RunValues &v)
{
    const SourceCheck::Layout &layout = v.layout;
    return make<StickTreeStep>(
        StickTreeStep::Input{SourceCheck::stickNeeded(layout).content, v.source->path(),
                             QDir(v.source->path()).relativeFilePath(layout.imagePath),
                             v.work.path, &v.setup},
        stickOutput(v));
}

} // namespace

Pipeline drive(const RunOptions &o, RunValues &v, Prompts *prompts)
{
    Pipeline pipeline{std::make_unique<Sequence>(), 99,
                      [&v, prompts] { completed(v.drive, prompts); }};
    Sequence &run = *pipeline.steps;
    mountAndInspect(run, o, v);
    checkSetup(run, o, v);
    run.add([&v, o] {
        return make<OpenDriveStep>(OpenDriveStep::Input{*o.drive,
                                                        SourceCheck::stickNeeded(v.layout).content,
                                                        o.source, v.temporaryFolder},
                                   v.drive);
    });
    run.add([&v] { return make<ProbeStep>(v.drive); });
    run.add([&v] { return make<WorkFolderStep>(v.temporaryFolder, v.work); }).milestoneAfter(25);
    adjustSetup(run, o, v);
    // From the tree on, the bar follows the bytes on the drive until the
    // read-back; the steps between measure nothing that shows.
    run.add([&v] { return stickTree(v); }, Stretch{25, 96});
    exportFromTheMount(run, v, {});
    // Each piece is placed on the stick as soon as wimsplit has finished it.
    splitAndRemove(run, v, {}, std::nullopt, [&v](const QString &piece) {
        return v.stickStream->placeFile(v.layout.sourcesName(), piece);
    });
    run.add([&v] {
        return make<StickPiecesStep>(v.split, v.layout.sourcesName(), stickOutput(v));
    });
    // Verified as the drive takes them; once verified, each goes when it is on the drive.
    run.add([&v] { return make<VerifyStep>(v.split, true); });
    run.add([&v] {
        return make<ThreadStep>([stream = v.stickStream](const auto &) {
            stream->release();
            return stream->failure();
        });
    });
    run.add([&v] { return make<UnmountStep>(v.source, UnmountStep::Telling::Log); });
    run.add([&v] { return make<WriteStep>(v.drive, v.stickStream, Stretch{96, 99}); });
    return pipeline;
}

} // namespace Pipelines
