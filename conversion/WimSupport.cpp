#include "WimSupport.h"

#include <QFile>
#include <QFileInfo>

namespace WimSupport {

namespace {

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

} // namespace

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

wimlib_progress_status ProgressRelay::call(wimlib_progress_msg message, wimlib_progress_info *info,
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

} // namespace WimSupport
