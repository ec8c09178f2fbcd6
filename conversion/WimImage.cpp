#include "WimImage.h"
#include "WimSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>
#include <mutex>

using namespace WimSupport;

namespace {

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
