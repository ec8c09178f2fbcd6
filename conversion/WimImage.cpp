#include "WimImage.h"

#include <QFile>
#include <QFileInfo>
#include <mutex>
#include <wimlib.h>

namespace WimImage {

namespace {
void initOnce()
{
    static std::once_flag once;
    std::call_once(once, [] {
        wimlib_global_init(0);
        wimlib_set_print_errors(false);
    });
}
} // namespace

std::variant<Info, Error> inspect(const QString &path)
{
    initOnce();
    WIMStruct *wim = nullptr;
    const int code = wimlib_open_wim(QFile::encodeName(path).constData(), 0, &wim);
    if (code != 0)
        return Error{
            QStringLiteral("“%1” is not a Windows image that can be read.")
                .arg(QFileInfo(path).fileName()),
            QStringLiteral("%1 (%2)").arg(
                QString::fromUtf8(wimlib_get_error_string(wimlib_error_code(code))), path)};
    wimlib_wim_info wi{};
    wimlib_get_wim_info(wim, &wi);
    Info info;
    for (uint32_t i = 1; i <= wi.image_count; ++i)
        info.editions.append({int(i), QString::fromUtf8(wimlib_get_image_name(wim, int(i))),
                              QString::fromUtf8(wimlib_get_image_description(wim, int(i)))});
    info.compression = QString::fromUtf8(
        wimlib_get_compression_type_string(wimlib_compression_type(wi.compression_type)));
    info.solid = wi.wim_version == 0xE00;
    info.fileSize = QFileInfo(path).size();
    info.partNumber = wi.part_number;
    info.totalParts = wi.total_parts;
    wimlib_free(wim);
    return info;
}

} // namespace WimImage

namespace WimImage {

namespace {

struct Context {
    const Progress *progress;
};

enum wimlib_progress_status onProgress(enum wimlib_progress_msg msg,
                                       union wimlib_progress_info *info, void *context)
{
    const Progress &progress = *static_cast<Context *>(context)->progress;
    bool go = true;
    if (msg == WIMLIB_PROGRESS_MSG_WRITE_STREAMS)
        go = progress(qint64(info->write_streams.completed_bytes),
                      qint64(info->write_streams.total_bytes));
    else if (msg == WIMLIB_PROGRESS_MSG_VERIFY_STREAMS)
        go = progress(qint64(info->verify_streams.completed_bytes),
                      qint64(info->verify_streams.total_bytes));
    return go ? WIMLIB_PROGRESS_STATUS_CONTINUE : WIMLIB_PROGRESS_STATUS_ABORT;
}

Result outcomeOf(int code, const QString &what, const QString &path)
{
    if (code == 0)
        return {};
    if (code == WIMLIB_ERR_ABORTED_BY_PROGRESS)
        return {Outcome::Cancelled, {}};
    return {Outcome::Failed,
            {what, QStringLiteral("%1 (%2)").arg(
                       QString::fromUtf8(wimlib_get_error_string(wimlib_error_code(code))), path)}};
}

} // namespace

Result exportForSplit(const QString &source, const QString &destination, const Progress &progress)
{
    initOnce();
    WIMStruct *in = nullptr;
    WIMStruct *out = nullptr;
    Context context{&progress};
    const QByteArray dst = QFile::encodeName(destination);
    int code = wimlib_open_wim(QFile::encodeName(source).constData(), 0, &in);
    if (code == 0)
        code = wimlib_create_new_wim(WIMLIB_COMPRESSION_TYPE_LZX, &out);
    if (code == 0)
        code = wimlib_export_image(in, WIMLIB_ALL_IMAGES, out, nullptr, nullptr, 0);
    if (code == 0) {
        wimlib_register_progress_function(out, onProgress, &context);
        code = wimlib_write(out, dst.constData(), WIMLIB_ALL_IMAGES, 0, 0);
    }
    wimlib_free(out);
    wimlib_free(in);
    if (code != 0)
        QFile::remove(destination);
    return outcomeOf(code, QStringLiteral("The Windows image could not be exported."), source);
}

Result verifySplitSet(const QString &firstPart, const Progress &progress)
{
    initOnce();
    WIMStruct *wim = nullptr;
    Context context{&progress};
    int code = wimlib_open_wim_with_progress(QFile::encodeName(firstPart).constData(), 0, &wim,
                                             onProgress, &context);
    const QString glob = QFileInfo(firstPart).path() + QStringLiteral("/install*.swm");
    if (code == 0) {
        const QByteArray pattern = QFile::encodeName(glob);
        const char *patterns[] = {pattern.constData()};
        code = wimlib_reference_resource_files(wim, patterns, 1, WIMLIB_REF_FLAG_GLOB_ENABLE, 0);
    }
    if (code == 0)
        code = wimlib_verify_wim(wim, 0);
    wimlib_free(wim);
    return outcomeOf(code, QStringLiteral("The split image does not verify."), firstPart);
}

} // namespace WimImage
