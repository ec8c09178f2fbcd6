// The new ISO image, step by step.

#include "BuildStep.h"
#include "Conversion.h"
#include "ExportStep.h"
#include "PathName.h"
#include "Pipeline.h"
#include "Prompts.h"
#include "PublishStep.h"
#include "SetupSteps.h"
#include "SplitStep.h"
#include "StagingCopyStep.h"
#include "ThreadStep.h"
#include "UnmountStep.h"
#include "VerifyStep.h"
#include "WorkFolderStep.h"

namespace Pipelines {

namespace {

// The staging copy's sources folder.
QString stagedSources(const RunValues &v)
{
    return PathName::join(v.work.staging, v.layout.sourcesName());
}

BuildStep::Input buildInput(const RunOptions &o, const RunValues &v)
{
    BuildStep::Input input;
    input.hdiutil = o.tools.hdiutil;
    input.destination = o.destination;
    input.tree = v.work.staging;
    input.bootArguments = v.boot.arguments;
    input.expected = v.layout.treeBytes;
    input.marker = v.work.marker;
    if (o.direct) {
        input.fromMount = true;
        input.tree = v.source->path();
        input.sourcesName = v.layout.sourcesName();
        input.excluded =
            input.sourcesName + QLatin1Char('/') + PathName::lastComponent(v.layout.imagePath);
        input.pieces = &v.split;
        input.setup = &v.setup;
    }
    return input;
}

// The pieces read back while the new image is built from them, on two cores
// at once; the image takes the destination's place only once they have passed.
std::unique_ptr<Step> verifyAndBuild(const RunOptions &o, RunValues &v)
{
    return make<Both>(make<VerifyStep>(v.split, false), Stretch{80, 82},
                      make<BuildStep>(buildInput(o, v), v.builtImage), Stretch{82, 90});
}

void stagingCopy(Sequence &run, RunValues &v)
{
    run.add([&v] { return make<StagingCopyStep>(v.source->path(), v.layout, v.work); },
            [&v] {
                return Stretch{25, v.layout.needsExport() ? 28.f : 35.f};
            });
    run.add(
        [&v] {
            if (!v.layout.needsExport())
                return std::unique_ptr<Step>();
            const QString sources = stagedSources(v);
            return make<ExportStep>(v.layout.imagePath,
                                    PathName::join(sources, QStringLiteral("install.wim")),
                                    sources);
        },
        Stretch{28, 35});
    run.add([&v] { return make<UnmountStep>(v.source, UnmountStep::Telling::LogAndStatus); })
        .milestoneBefore(35)
        .milestoneAfter(40);
    run.add([&v] { return make<StagedSourcesStep>(stagedSources(v), v.split); });
    run.add([&v]() -> std::unique_ptr<Step> {
        if (v.setup.files().isEmpty())
            return nullptr;
        return make<ThreadStep>(
            [&v](const auto &) { return SetupStep::moveInto(v.setup, v.work.staging); });
    });
}

} // namespace

Pipeline iso(const RunOptions &o, RunValues &v, Prompts *prompts)
{
    Pipeline pipeline{std::make_unique<Sequence>(), 90, [prompts] {
                          prompts->runAlert(
                              Conversion::tr("ISO creation completed"),
                              Conversion::tr("The ISO has been completed successfully. Use it "
                                             "with Boot Camp Assistant to install Windows 10."));
                      }};
    Sequence &run = *pipeline.steps;
    mountAndInspect(run, o, v);
    checkSetup(run, o, v);
    run.add([&v] { return make<WorkFolderStep>(v.temporaryFolder, v.work); }).milestoneAfter(25);
    adjustSetup(run, o, v);
    if (!o.direct)
        stagingCopy(run, v);
    else
        exportFromTheMount(run, v, {25, 40});
    splitAndRemove(run, v, {40, 80}, 80);
    if (o.bootable)
        run.add([&v, o] {
            return make<BootPlanStep>(o.source, o.direct ? v.source->path() : v.work.staging,
                                      v.boot);
        });
    run.add([&v, o] { return verifyAndBuild(o, v); });
    if (o.direct) // it was built from the mount, so only now can the source go
        run.add([&v] { return make<UnmountStep>(v.source, UnmountStep::Telling::Nothing); });
    run.add([&v, o] {
        return make<PublishStep>(v.builtImage, o.destination,
                                 PublishStep::Replacing{o.replaces, o.replaceAnything});
    });
    return pipeline;
}

} // namespace Pipelines
