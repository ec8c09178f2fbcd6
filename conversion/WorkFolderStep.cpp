#include "WorkFolderStep.h"

#include "Conversion.h"
#include "FileSystem.h"
#include "PathName.h"
#include "Prompts.h"
#include "RunContext.h"
#include "TemporaryFolders.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace {

struct Removal {
    std::optional<Error> permissionError;
    std::optional<Error> removalError;
};

bool isInside(const QString &path, const QString &directory)
{
    return !directory.isEmpty() && path.startsWith(directory + QLatin1Char('/'));
}

// Off the main thread: a full copy of a disc takes seconds to remove.
Removal removeTree(const QString &temporary, const QString &staging)
{
    Removal removal;
    // Nothing to say about a directory that is simply not there: only real
    // failures are shown.
    if (temporary.isEmpty() || !QFileInfo::exists(temporary))
        return removal;
    // The copy keeps the image's read-only modes; open everything up so the
    // removal can get through.
    if (isInside(staging, temporary) && QFileInfo::exists(staging))
        removal.permissionError = FileSystem::setPosixPermissions(staging, 0777);
    FileSystem::openUpTree(temporary);
    removal.removalError = FileSystem::removeItem(temporary);
    return removal;
}

} // namespace

void WorkFolderStep::run()
{
    QTemporaryDir directory(PathName::join(m_parent, QStringLiteral("iso-XXXXXX")));
    if (!directory.isValid()) {
        finish(Error{Conversion::tr("No temporary folder could be made in “%1”.").arg(m_parent),
                     directory.errorString()});
        return;
    }
    directory.setAutoRemove(false);
    m_work.parent = m_parent;
    m_work.path = directory.path();
    m_work.marker = std::make_shared<RunMarker>();
    m_work.marker->create(m_work.path);
    // A run killed now leaves this directory; the next run looks here too.
    TemporaryFolders::remember(m_parent);
    context().setTemporaryDirectory(m_work.path);
    context().teardown().push([this](auto next) { remove(std::move(next)); });
    finish(std::nullopt);
}

void WorkFolderStep::remove(std::function<void()> next)
{
    m_work.marker->release();
    m_worker.run([temporary = m_work.path,
                  staging = m_work.staging] { return removeTree(temporary, staging); },
                 [this, next = std::move(next)](Removal removal) {
                     if (removal.permissionError) {
                         context().prompts()->runErrorAlert(*removal.permissionError);
                         context().stopRunning();
                     }
                     if (removal.removalError)
                         context().prompts()->runErrorAlert(*removal.removalError);
                     next();
                 });
}
