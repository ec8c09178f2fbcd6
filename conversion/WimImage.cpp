#include "WimImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <memory>
#include <mutex>
#include <vector>
#include <wimlib.h>

namespace {

struct WimFree {
    void operator()(WIMStruct *wim) const { wimlib_free(wim); }
};
using WimPtr = std::unique_ptr<WIMStruct, WimFree>;

// Once per process, whichever thread comes first. libwim stays silent (errors
// come back as codes), and names in images are UTF-8 whatever the locale.
int initialise()
{
    static const int code = [] {
        wimlib_set_print_errors(false);
        return wimlib_global_init(WIMLIB_INIT_FLAG_ASSUME_UTF8);
    }();
    return code;
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

Error wimError(int code, const QString &path, const QString &message)
{
    const auto reason = QString::fromUtf8(wimlib_get_error_string(wimlib_error_code(code)));
    return {message, QStringLiteral("%1 (%2)").arg(reason, path)};
}

WimImage::Result failed(const Error &error)
{
    return {WimImage::Outcome::Failed, error};
}

int openWim(const QString &path, WimPtr &wim)
{
    WIMStruct *opened = nullptr;
    int code = initialise();
    if (code == 0)
        code = wimlib_open_wim(QFile::encodeName(path).constData(), 0, &opened);
    wim.reset(opened);
    return code;
}

Error openError(int code, const QString &path)
{
    if (code == WIMLIB_ERR_NOT_A_WIM_FILE || code == WIMLIB_ERR_UNKNOWN_VERSION)
        return wimError(code, path,
                        QStringLiteral("“%1” isn’t a Windows image.").arg(fileName(path)));
    return wimError(code, path, QStringLiteral("“%1” couldn’t be read.").arg(fileName(path)));
}

// Hands libwim's byte counts to the caller's callback and its answer back.
class ProgressRelay {
public:
    explicit ProgressRelay(const WimImage::Progress &progress) : m_progress(progress) {}

    void attach(WIMStruct *wim)
    {
        wimlib_register_progress_function(wim, &ProgressRelay::call, this);
    }

private:
    static wimlib_progress_status call(wimlib_progress_msg message, wimlib_progress_info *info,
                                       void *context)
    {
        auto *relay = static_cast<ProgressRelay *>(context);
        if (message == WIMLIB_PROGRESS_MSG_WRITE_STREAMS) {
            relay->m_done = info->write_streams.completed_bytes;
            relay->m_total = info->write_streams.total_bytes;
        } else if (message == WIMLIB_PROGRESS_MSG_VERIFY_STREAMS) {
            relay->m_done = info->verify_streams.completed_bytes;
            relay->m_total = info->verify_streams.total_bytes;
        }
        if (!relay->m_progress || relay->m_progress(relay->m_done, relay->m_total))
            return WIMLIB_PROGRESS_STATUS_CONTINUE;
        return WIMLIB_PROGRESS_STATUS_ABORT;
    }

    const WimImage::Progress &m_progress;
    quint64 m_done = 0;
    quint64 m_total = 0;
};

QString imageProperty(WIMStruct *wim, int image, const char *name)
{
    return QString::fromUtf8(wimlib_get_image_property(wim, image, name));
}

// Blob sizes from the lookup table; a solid resource holds many blobs and is
// counted once.
struct BlobTotals {
    bool solid = false;
    quint64 uniqueBytes = 0;
    quint64 storedBytes = 0;
    QSet<QPair<quint32, quint64>> solidResources;

    static int add(const wimlib_resource_entry *blob, void *context)
    {
        auto *totals = static_cast<BlobTotals *>(context);
        totals->uniqueBytes += blob->uncompressed_size;
        if (!blob->packed) {
            totals->storedBytes += blob->compressed_size;
            return 0;
        }
        totals->solid = true;
        const QPair<quint32, quint64> resource(blob->part_number, blob->raw_resource_offset_in_wim);
        if (!totals->solidResources.contains(resource)) {
            totals->solidResources.insert(resource);
            totals->storedBytes += blob->raw_resource_compressed_size;
        }
        return 0;
    }
};

WimImage::Info infoOf(WIMStruct *wim, const wimlib_wim_info &header)
{
    WimImage::Info info;
    for (int image = 1; image <= int(header.image_count); ++image) {
        info.editions.append({image, QString::fromUtf8(wimlib_get_image_name(wim, image)),
                              QString::fromUtf8(wimlib_get_image_description(wim, image)),
                              imageProperty(wim, image, "DISPLAYNAME"),
                              imageProperty(wim, image, "FLAGS"),
                              imageProperty(wim, image, "TOTALBYTES").toULongLong()});
    }
    info.compression = WimCompression(header.compression_type);
    info.compressionName = QString::fromUtf8(
        wimlib_get_compression_type_string(wimlib_compression_type(header.compression_type)));
    info.partNumber = header.part_number;
    info.totalParts = header.total_parts;
    info.chunkSize = header.chunk_size;
    return info;
}

// Where a failed write most likely failed: a full disk is worth saying so,
// with the folder that filled up.
Error writeError(int code, const QString &destination)
{
    const QString folder = QFileInfo(destination).absolutePath();
    constexpr qint64 kNearlyFull = 16 * 1024 * 1024;
    const QStorageInfo volume(folder);
    if (code == WIMLIB_ERR_WRITE && volume.isValid() && volume.bytesAvailable() < kNearlyFull)
        return wimError(code, destination,
                        QStringLiteral("There isn’t enough space in “%1”.").arg(folder));
    return wimError(code, destination,
                    QStringLiteral("“%1” couldn’t be written.").arg(fileName(destination)));
}

// The compression level is process-wide in libwim, so exports that set one
// take turns.
std::mutex compressionLevelMutex;

int writeExport(WIMStruct *exported, const QString &destination, const WimExportOptions &options)
{
    const std::lock_guard lock(compressionLevelMutex);
    if (options.compression != WimCompression::None) {
        if (int code =
                wimlib_set_default_compression_level(int(options.compression), options.level))
            return code;
    }
    return wimlib_write(exported, QFile::encodeName(destination).constData(), WIMLIB_ALL_IMAGES, 0,
                        options.threads);
}

} // namespace

std::variant<WimImage::Info, Error> WimImage::inspect(const QString &path)
{
    WimPtr wim;
    if (int code = openWim(path, wim))
        return openError(code, path);
    wimlib_wim_info header{};
    BlobTotals totals;
    int code = wimlib_get_wim_info(wim.get(), &header);
    if (code == 0)
        code = wimlib_iterate_lookup_table(wim.get(), 0, &BlobTotals::add, &totals);
    if (code)
        return openError(code, path);
    Info info = infoOf(wim.get(), header);
    info.solid = totals.solid;
    info.uniqueBytes = totals.uniqueBytes;
    info.storedBytes = totals.storedBytes;
    info.fileSize = QFileInfo(path).size();
    return info;
}

WimImage::Result WimImage::exportForSplit(const QString &source, const QString &destination,
                                          const Progress &progress, const WimExportOptions &options)
{
    // A new LZMS WIM is of the solid format version, and libwim writes it solid
    // whenever the blobs come from solid resources.
    if (options.compression == WimCompression::Lzms)
        return failed({QStringLiteral("“%1” can’t be split as LZMS.").arg(fileName(source)),
                       QStringLiteral("LZMS output stays solid; choose LZX or XPRESS.")});
    if (QFileInfo::exists(destination))
        return failed(
            {QStringLiteral("“%1” already exists.").arg(fileName(destination)), destination});
    WimPtr from;
    if (int code = openWim(source, from))
        return failed(openError(code, source));
    wimlib_wim_info header{};
    wimlib_get_wim_info(from.get(), &header);
    if (header.total_parts != 1)
        return failed({QStringLiteral("“%1” is already split.").arg(fileName(source)), source});

    WIMStruct *created = nullptr;
    int code = wimlib_create_new_wim(wimlib_compression_type(options.compression), &created);
    WimPtr exported(created);
    if (code == 0)
        code = wimlib_export_image(from.get(), WIMLIB_ALL_IMAGES, exported.get(), nullptr, nullptr,
                                   WIMLIB_EXPORT_FLAG_BOOT);
    if (code)
        return failed(wimError(
            code, source, QStringLiteral("“%1” couldn’t be converted.").arg(fileName(source))));

    ProgressRelay relay(progress);
    relay.attach(exported.get());
    code = writeExport(exported.get(), destination, options);
    if (code == 0)
        return {};
    // Judged before the partial file goes: only then is a full disk still full.
    const Error error = writeError(code, destination);
    QFile::remove(destination);
    if (code == WIMLIB_ERR_ABORTED_BY_PROGRESS)
        return {Outcome::Cancelled, {}};
    return failed(error);
}

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

// Two figures, the smaller wins. A bound: LZX never stores a chunk bigger than it
// was, so the data once uncompressed plus its tables (under 0.4 % unless most
// files are tiny) and the XML. And the stored size scaled by how much LZX gives
// away against the source's compression: on programs and libraries LZX at the
// default level needs 1.54 times LZMS solid and 0.91 times XPRESS (bench/wim-export);
// Windows' own data compresses less well with LZMS, so its ratio is lower.
quint64 WimImage::estimatedExportBytes(const Info &info)
{
    constexpr quint64 kTablesAndXml = 1024 * 1024;
    const quint64 bound = info.uniqueBytes + info.uniqueBytes / 256 + kTablesAndXml;
    double ratio = 1.05;
    if (info.compression == WimCompression::Lzms)
        ratio = 1.6;
    else if (info.compression == WimCompression::None)
        return bound;
    return std::min(bound, quint64(double(info.storedBytes) * ratio) + kTablesAndXml);
}
