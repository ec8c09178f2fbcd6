#include "Pipeline.h"

#include "FileSystem.h"
#include "SourceCheckStep.h"
#include "Log.h"
#include "MountStep.h"
#include "PathName.h"
#include "ThreadStep.h"

#include <QDir>

namespace Pipelines {

void mountAndInspect(Sequence &run, const RunOptions &options, const ToolPaths &tools, RunValues &v)
{
    run.add([&v, options, tools] { return make<MountStep>(options.source, tools, v.source); });
    run.add([&v, options] {
        const SourceCheck::Request request{options.source,
                                           v.source->path(),
                                           options.destination,
                                           temporaryFolder(),
                                           options.direct || options.drive.has_value(),
                                           options.drive.has_value()};
        return make<SourceCheckStep>(request, v.layout);
    });
}

QString temporaryFolder()
{
    const QString folder = qEnvironmentVariable("TMPDIR");
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

SplitSet directSplit(const RunValues &v)
{
    const QString folder = PathName::join(v.work.path, QStringLiteral("sources"));
    if (v.layout.needsExport())
        return {PathName::join(folder, QStringLiteral("install.wim")), folder, false};
    return {v.layout.imagePath, folder, true};
}

std::unique_ptr<Step> removeUnsplit(const SplitSet &split)
{
    if (split.sourceOnMount)
        return nullptr; // the image split lies on the mount; nothing to remove
    return make<ThreadStep>([wim = split.source](const auto &) {
        Log::write(QStringLiteral("removing install.wim"));
        return FileSystem::removeItem(wim);
    });
}

} // namespace Pipelines
