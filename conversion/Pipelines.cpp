#include "Pipeline.h"

#include "ExportStep.h"
#include "FileSystem.h"
#include "Log.h"
#include "MountStep.h"
#include "PathName.h"
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
        return make<SourceCheckStep>(request, v.layout, v.temporaryFolder);
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

void splitAndRemove(Sequence &run, RunValues &v, Stretch stretch, float milestone)
{
    run.add([&v] { return make<SplitStep>(v.split, v.work.parent); }, stretch)
        .milestoneAfter(milestone);
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
