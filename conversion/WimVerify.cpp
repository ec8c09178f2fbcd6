// The check of a split set: every piece there, each blob as wimverify checks it.

#include "WimImage.h"
#include "WimSupport.h"

#include <QDir>
#include <QFileInfo>
#include <cstring>
#include <vector>

using namespace WimSupport;

namespace {

// The other pieces of the set that `first` opens, by the installer's rule:
// install*.swm beside it, any letter case.
QStringList otherPieces(const QString &first)
{
    const QFileInfo firstInfo(first);
    const QString stem = firstInfo.completeBaseName();
    QStringList pieces;
    for (const QString &name : QDir(firstInfo.absolutePath()).entryList(QDir::Files)) {
        if (name != firstInfo.fileName() && name.startsWith(stem, Qt::CaseInsensitive) &&
            name.endsWith(QStringLiteral(".swm"), Qt::CaseInsensitive))
            pieces.append(firstInfo.absoluteDir().filePath(name));
    }
    return pieces;
}

// Opens every other piece and checks that together with the first they form
// the whole set, each part once.
std::optional<Error> openPieces(const QString &first, const wimlib_wim_info &firstHeader,
                                std::vector<WimPtr> &pieces)
{
    QList<bool> seen(firstHeader.total_parts + 1, false);
    seen[1] = true;
    for (const QString &path : otherPieces(first)) {
        WimPtr piece;
        if (int code = openWim(path, piece))
            return openError(code, path);
        wimlib_wim_info header{};
        wimlib_get_wim_info(piece.get(), &header);
        if (memcmp(header.guid, firstHeader.guid, WIMLIB_GUID_LEN) != 0 ||
            header.total_parts != firstHeader.total_parts || seen[header.part_number])
            return Error{QStringLiteral("“%1” doesn’t belong to the split image “%2”.")
                             .arg(fileName(path), fileName(first)),
                         path};
        seen[header.part_number] = true;
        pieces.push_back(std::move(piece));
    }
    const qsizetype missing = seen.indexOf(false, 1);
    if (missing > 0)
        return Error{QStringLiteral("Piece %1 of %2 of the split image “%3” is missing.")
                         .arg(missing)
                         .arg(firstHeader.total_parts)
                         .arg(fileName(first)),
                     QFileInfo(first).absolutePath()};
    return std::nullopt;
}

} // namespace

WimImage::Result WimImage::verifySplitSet(const QString &firstPiece, const Progress &progress)
{
    // The first piece refers to the others' blobs, so it is freed before them.
    std::vector<WimPtr> pieces;
    WimPtr first;
    if (int code = openWim(firstPiece, first))
        return failed(openError(code, firstPiece));
    wimlib_wim_info header{};
    wimlib_get_wim_info(first.get(), &header);
    if (header.part_number != 1)
        return failed({QStringLiteral("“%1” isn’t the first piece of a split image.")
                           .arg(fileName(firstPiece)),
                       firstPiece});
    if (std::optional<Error> error = openPieces(firstPiece, header, pieces))
        return failed(*error);

    std::vector<WIMStruct *> referenced;
    for (const WimPtr &piece : pieces)
        referenced.push_back(piece.get());
    int code = wimlib_reference_resources(first.get(), referenced.data(), referenced.size(), 0);
    ProgressRelay relay(progress);
    relay.attach(first.get());
    if (code == 0)
        code = wimlib_verify_wim(first.get(), 0);
    if (code == WIMLIB_ERR_ABORTED_BY_PROGRESS)
        return {Outcome::Cancelled, {}};
    if (code)
        return failed(
            wimError(code, firstPiece,
                     QStringLiteral("The split image “%1” is damaged.").arg(fileName(firstPiece))));
    return {};
}
