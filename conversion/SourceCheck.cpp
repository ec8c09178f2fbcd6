#include "SourceCheck.h"

#include "Bundle.h"
#include "FileSystem.h"
#include "PathName.h"
#include "StageDetail.h"
#include "TemporaryFolders.h"

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

bool sameFileSystem(const QString &a, const QString &b)
{
    const QStorageInfo first(a), second(b);
    return first.isValid() && second.isValid() && first.device() == second.device();
}

// FAT32 cannot hold a file of 4 GiB or more.
std::optional<Error> tooLargeAFile(const QString &folder, const SourceCheck::Layout &layout,
                                   const SourceCheck::Request &request)
{
    constexpr qint64 kFat32FileLimit = 4LL * 1024 * 1024 * 1024;
    const QByteArray type = QStorageInfo(folder).fileSystemType().toLower();
    if (type != "vfat" && type != "msdos" && type != "fat")
        return std::nullopt;
    const qint64 wim = layout.needsExport()
                           ? qint64(WimImage::estimatedExportBytes(layout.wim))
                           : (request.direct || request.drive ? 0 : layout.imageBytes);
    if (wim < kFat32FileLimit)
        return std::nullopt;
    return Error{
        ConversionText::tr("The temporary folder “%1” cannot hold this image's files.").arg(folder),
        ConversionText::tr("Its file system (FAT) holds files below 4 GiB; install.wim "
                           "takes %1 there. Choose a folder on another disk.")
            .arg(StageDetail::formatBytes(wim))};
}

qint64 temporaryNeed(const SourceCheck::Request &r, const SourceCheck::Layout &layout,
                     const QString &folder)
{
    if (r.drive)
        return SourceCheck::stickNeeded(layout, FileSystem::givesSpaceBack(folder)).temporary +
               r.extraTemporary;
    const QString destination = QFileInfo(r.destination).absolutePath();
    return SourceCheck::spaceNeeded(layout, r.direct, sameFileSystem(folder, destination))
               .temporary +
           r.extraTemporary;
}

// How to go on when the temporary folder is short: another folder with room,
// how to choose one, and whether building from the mount would fit.
QString wayOn(const SourceCheck::Request &r, const SourceCheck::Layout &layout,
              const QString &roomy)
{
    QString text =
        roomy.isEmpty()
            ? ConversionText::tr("Choose a temporary folder on a disk with more room: "
                                 "--temporary-folder or TMPDIR, or Temporary Folder… in the "
                                 "window's File menu.")
            : ConversionText::tr("“%1” has the room; choose it with --temporary-folder or "
                                 "TMPDIR, or with Temporary Folder… in the window's File menu.")
                  .arg(roomy);
    if (!r.drive && !r.direct) {
        SourceCheck::Request direct = r;
        direct.direct = true;
        if (!checkSpace(r.temporaryFolder, temporaryNeed(direct, layout, r.temporaryFolder)))
            text += QLatin1Char(' ') +
                    ConversionText::tr("Building from the mounted image (--direct) needs less "
                                       "and would fit.");
    }
    return text;
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

StickNeeds stickNeeded(const Layout &layout, bool givesSpaceBack)
{
    const qint64 wim = layout.needsExport() ? qint64(WimImage::estimatedExportBytes(layout.wim))
                                            : layout.imageBytes;
    const qint64 content = layout.treeBytes - layout.imageBytes + wim;
    // The split of an exported image writes its pieces beside the export.
    const qint64 exported = layout.needsExport() ? wim : 0;
    // What is on the drive is given back, and a piece moves into the stick's
    // image without being held twice; where the space cannot be given back,
    // the whole stick is there, and each piece beside it until it is in.
    if (givesSpaceBack)
        return {content, withMargin(content + exported)};
    return {content, withMargin(content + std::max(exported, std::min(wim, kPieceBytes)))};
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

    if (request.drive)
        return layout; // the drive's own room is judged with the drive, once it is opened
    const QString destinationFolder = QFileInfo(request.destination).absolutePath();
    const Needs needs = spaceNeeded(layout, request.direct,
                                    sameFileSystem(request.temporaryFolder, destinationFolder));
    if (std::optional<Error> error = checkSpace(destinationFolder, needs.destination))
        return *error;
    return layout;
}

std::optional<Shortage> temporaryShortage(const Request &request, const Layout &layout)
{
    const QString &folder = request.temporaryFolder;
    if (std::optional<Error> error = tooLargeAFile(folder, layout, request))
        return Shortage{*error, QString()};
    const qint64 needed = temporaryNeed(request, layout, folder);
    std::optional<Error> error = checkSpace(folder, needed);
    if (!error)
        return std::nullopt;
    Shortage shortage{*error, QString()};
    for (const QString &other : request.alternatives) {
        if (!sameFileSystem(other, folder) && !TemporaryFolders::refusal(other) &&
            !checkSpace(other, temporaryNeed(request, layout, other))) {
            shortage.roomy = other;
            break;
        }
    }
    shortage.error.details += QLatin1Char(' ') + wayOn(request, layout, shortage.roomy);
    return shortage;
}

} // namespace SourceCheck
