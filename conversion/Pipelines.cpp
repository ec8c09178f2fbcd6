#include "Pipeline.h"

#include "ExportStep.h"
#include "FileSystem.h"
#include "Log.h"
#include "MountStep.h"
#include "PathName.h"
#include "SetupSteps.h"
#include "SourceCheckStep.h"
#include "SplitStep.h"
#include "TemporaryFolders.h"
#include "ThreadStep.h"

#include <QDir>
#include <QFileInfo>

namespace Pipelines {

void mountAndInspect(Sequence &run, const RunOptions &options, RunValues &v)
{
    run.add([&v, options] { return make<MountStep>(options.source, options.tools, v.source); });
    run.add([&v, options] {
        SourceCheck::Request request{options.source,
                                     v.source->path(),
                                     options.destination,
                                     TemporaryFolders::resolve(options.temporaryFolder),
                                     options.direct || options.drive.has_value(),
                                     options.drive.has_value(),
                                     {}};
        // Where else the temporary files could go: the new image's folder, home.
        if (!options.drive)
            request.alternatives << QFileInfo(options.destination).absolutePath();
        request.alternatives << QDir::homePath();
        // The adjusted boot.wim is made in the temporary directory too.
        if (options.setup.editsBootWim()) {
            const QString mount = v.source->path();
            const QString sources = SetupCheckStep::entryOf(mount, QStringLiteral("sources"));
            const QString folder = PathName::join(mount, sources);
            request.extraTemporary =
                QFileInfo(PathName::join(
                              folder, SetupCheckStep::entryOf(folder, QStringLiteral("boot.wim"))))
                    .size();
        }
        return make<SourceCheckStep>(request, v.layout, v.temporaryFolder);
    });
}

void checkSetup(Sequence &run, const RunOptions &options, RunValues &v)
{
    if (!options.setup.any())
        return;
    run.add([&v, o = options.setup] {
        return make<SetupCheckStep>(o, v.layout, v.source->path(), v.setup);
    });
}

void adjustSetup(Sequence &run, const RunOptions &options, RunValues &v)
{
    if (!options.setup.any())
        return;
    run.add([&v, o = options.setup] {
        return make<SetupStep>(o, v.layout.sourcesName(), v.work.path, v.setup);
    });
}

void exportFromTheMount(Sequence &run, RunValues &v, Stretch stretch)
{
    run.add(
        [&v]() -> std::unique_ptr<Step> {
            const QString folder = PathName::join(v.work.path, QStringLiteral("sources"));
            if (!v.layout.needsExport()) {
                v.split = {v.layout.imagePath, folder, true};
                return nullptr;
            }
            v.split = {PathName::join(folder, QStringLiteral("install.wim")), folder, false};
            return make<ExportStep>(v.layout.imagePath, v.split.source);
        },
        stretch);
}

void splitAndRemove(Sequence &run, RunValues &v, Stretch stretch,
                    std::optional<float> milestone, SplitStep::PieceDone pieceDone)
{
    run.add([&v, pieceDone] { return make<SplitStep>(v.split, v.work.parent, pieceDone); },
            stretch)
        .after = milestone;
    run.add([&v]() -> std::unique_ptr<Step> {
        if (v.split.sourceOnMount)
            return nullptr; // the image split lies on the mount; nothing to remove
        return make<ThreadStep>([wim = v.split.source](const auto &) {
            Log::write(QStringLiteral("removing install.wim"));
            return FileSystem::removeItem(wim);
        });
    });
}

} // namespace Pipelines
