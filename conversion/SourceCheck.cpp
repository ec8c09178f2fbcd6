#include "SourceCheck.h"

#include "Bundle.h"
#include "FileSystem.h"
#include "PathName.h"
#include "StageDetail.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <cerrno>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The texts of the whole conversion core share one translation context.
struct ConversionText {
    Q_DECLARE_TR_FUNCTIONS(Conversion)
};

constexpr qint64 kMarginBytes = 64LL << 20;
constexpr qint64 kPieceBytes = 2048LL << 20; // what wimsplit is asked for

qint64 withMargin(qint64 bytes)
{
    return bytes + bytes / 50 + kMarginBytes;
}

qint64 regularFileBytes(const QString &folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    qint64 total = 0;
    for (fs::recursive_directory_iterator it(QFile::encodeName(folder).toStdString(), ec), end;
         !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec))
            total += qint64(it->file_size(ec));
    }
    return total;
}

Error notAWindowsImage(const SourceCheck::Request &r, const QString &why)
{
    return {ConversionText::tr("“%1” is not a Windows installation image.")
                .arg(QFileInfo(r.isoPath).fileName()),
            why};
}

std::variant<SourceCheck::Layout, Error> findImage(const SourceCheck::Request &r)
{
    using SourceCheck::Layout;
    const auto sources = FileSystem::childIgnoringCase(r.mountPath, QStringLiteral("sources"));
    if (!sources || !QFileInfo(*sources).isDir())
        return notAWindowsImage(r, ConversionText::tr("It has no “sources” folder."));
    if (FileSystem::childIgnoringCase(*sources, QStringLiteral("install.swm")))
        return Error{
            ConversionText::tr("“%1” is already split.").arg(QFileInfo(r.isoPath).fileName()),
            ConversionText::tr(
                "Its sources folder holds install.swm: there is nothing left to split.")};
    Layout layout;
    layout.sourcesFolder = *sources;
    for (const char *name : {"install.wim", "install.esd"}) {
        const auto found = FileSystem::childIgnoringCase(*sources, QString::fromLatin1(name));
        if (found && QFileInfo(*found).isFile()) {
            layout.imagePath = *found;
            layout.isEsd = QLatin1String(name) == QLatin1String("install.esd");
            return layout;
        }
    }
    return notAWindowsImage(
        r, ConversionText::tr("Its sources folder has neither install.wim nor install.esd."));
}

std::optional<Error> checkDestination(const SourceCheck::Request &r)
{
    const QFileInfo destination(r.destination);
    if (destination.isDir())
        return Error{ConversionText::tr("“%1” is a folder.").arg(destination.fileName()),
                     ConversionText::tr("Choose a file name for the new image.")};
    struct stat source, target;
    if (::stat(QFile::encodeName(r.isoPath).constData(), &source) == 0 &&
        ::stat(QFile::encodeName(r.destination).constData(), &target) == 0 &&
        source.st_dev == target.st_dev && source.st_ino == target.st_ino)
        return Error{
            ConversionText::tr("The new image cannot replace “%1”.").arg(destination.fileName()),
            ConversionText::tr("It is the image being converted; choose another name.")};
    const QString folder = destination.absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return Error::fromErrno(errno, folder, ConversionText::tr("written to"));
    return std::nullopt;
}

std::optional<Error> checkFolders(const SourceCheck::Request &r)
{
    // A USB installer has no destination file.
    if (!r.drive) {
        if (std::optional<Error> error = checkDestination(r))
            return error;
    }
    if (::access(QFile::encodeName(r.temporaryFolder).constData(), W_OK | X_OK) != 0)
        return Error::fromErrno(errno, r.temporaryFolder,
                                ConversionText::tr("used for temporary files"));
    if (!Bundle::pathForResource(QStringLiteral("wimsplit"), QString(),
                                 QStringLiteral("tools/bin")))
        return Error{ConversionText::tr("The split tool “wimsplit” is missing."),
                     ConversionText::tr("isoswm expects it at %1. Reinstall isoswm.")
                         .arg(PathName::join(Bundle::resourcesPath(),
                                             QStringLiteral("tools/bin/wimsplit")))};
    return std::nullopt;
}

std::optional<Error> checkSpace(const QString &folder, qint64 needed)
{
    const QStorageInfo storage(folder);
    if (needed <= 0 || !storage.isValid() || storage.bytesAvailable() >= needed)
        return std::nullopt;
    return Error{ConversionText::tr("There is not enough free space in “%1”.").arg(folder),
                 ConversionText::tr("The conversion needs about %1 there; %2 are free.")
                     .arg(StageDetail::formatBytes(needed),
                          StageDetail::formatBytes(storage.bytesAvailable())),
                 ENOSPC};
}

} // namespace

namespace SourceCheck {

QString Layout::sourcesName() const
{
    return QFileInfo(sourcesFolder).fileName();
}

Needs spaceNeeded(const Layout &layout, bool direct, bool sameFileSystem)
{
    // The install.wim that is split (a solid image's export), and its pieces,
    // which take about as much again.
    const qint64 wim = layout.needsExport() ? qint64(WimImage::estimatedExportBytes(layout.wim))
                                            : layout.imageBytes;
    const qint64 rest = layout.treeBytes - layout.imageBytes; // all but the Windows image
    const qint64 staged = direct ? 0 : rest;
    // The direct path splits a plain image where it lies, on the mount.
    const qint64 wimInTemporary = direct && !layout.needsExport() ? 0 : wim;
    const qint64 temporaryPeak = staged + wimInTemporary + wim;
    const qint64 afterSplit = staged + wim;
    const qint64 output = rest + wim;
    if (sameFileSystem)
        return {withMargin(std::max(temporaryPeak, afterSplit + output)), 0};
    return {withMargin(temporaryPeak), withMargin(output)};
}

StickNeeds stickNeeded(const Layout &layout)
{
    const qint64 wim = layout.needsExport() ? qint64(WimImage::estimatedExportBytes(layout.wim))
                                            : layout.imageBytes;
    const qint64 content = layout.treeBytes - layout.imageBytes + wim;
    // The split of an exported image writes its pieces beside the export; a
    // piece is in the stick's image and beside it until it has been copied.
    const qint64 piece = std::min(wim, kPieceBytes);
    return {content, withMargin(content + std::max(layout.needsExport() ? wim : 0, piece))};
}

std::variant<Layout, Error> inspect(const Request &request)
{
    std::variant<Layout, Error> found = findImage(request);
    if (std::holds_alternative<Error>(found))
        return found;
    Layout layout = std::get<Layout>(found);
    std::variant<WimImage::Info, Error> wim = WimImage::inspect(layout.imagePath);
    if (const Error *error = std::get_if<Error>(&wim))
        return *error;
    layout.wim = std::get<WimImage::Info>(wim);
    if (layout.wim.totalParts > 1)
        return Error{
            ConversionText::tr("“%1” is already split.").arg(QFileInfo(request.isoPath).fileName()),
            ConversionText::tr("Its Windows image is part %1 of %2 of a split image.")
                .arg(layout.wim.partNumber)
                .arg(layout.wim.totalParts)};
    if (std::optional<Error> error = checkFolders(request))
        return *error;
    layout.imageBytes = QFileInfo(layout.imagePath).size();
    layout.treeBytes = regularFileBytes(request.mountPath);

    if (request.drive) {
        // The drive's own room is judged with the drive, once it is opened.
        if (std::optional<Error> error =
                checkSpace(request.temporaryFolder, stickNeeded(layout).temporary))
            return *error;
        return layout;
    }
    const QString destinationFolder = QFileInfo(request.destination).absolutePath();
    const QStorageInfo temporary(request.temporaryFolder), destination(destinationFolder);
    const bool same = temporary.isValid() && temporary.device() == destination.device();
    const Needs needs = spaceNeeded(layout, request.direct, same);
    if (std::optional<Error> error = checkSpace(request.temporaryFolder, needs.temporary))
        return *error;
    if (std::optional<Error> error = checkSpace(destinationFolder, needs.destination))
        return *error;
    return layout;
}

} // namespace SourceCheck
