#pragma once

// What WimImage's inspection, export and verification share of libwim:
// opening a file, its errors, and its progress calls.

#include "WimImage.h"

#include <memory>
#include <wimlib.h>

namespace WimSupport {

struct WimFree {
    void operator()(WIMStruct *wim) const { wimlib_free(wim); }
};
using WimPtr = std::unique_ptr<WIMStruct, WimFree>;

QString fileName(const QString &path);
// libwim's reason for `code` as the details, `message` as the text.
Error wimError(int code, const QString &path, const QString &message);
WimImage::Result failed(const Error &error);
// Opens `path` into `wim` (libwim set up first, once per process); libwim's code.
int openWim(const QString &path, WimPtr &wim);
// A file that is no WIM, or one that could not be read.
Error openError(int code, const QString &path);

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
                                       void *context);

    const WimImage::Progress &m_progress;
    quint64 m_done = 0;
    quint64 m_total = 0;
};

} // namespace WimSupport
