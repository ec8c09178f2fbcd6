#pragma once

#include <QString>
#include <system_error>

// A failed operation as the user gets to see it: a one-line message and the
// details behind it (the path, the system's reason).
struct Error {
    QString message;
    QString details;
    // The system's error number behind it (ENOSPC, ...), 0 when there is none.
    int code = 0;

    // "The file “x” couldn’t be removed." style message built from an error code
    // and the path the operation worked on. `operation` is a verb phrase such as
    // "copied" or "removed".
    static Error fromErrorCode(std::error_code code, const QString &path, const QString &operation);
    static Error fromErrno(int err, const QString &path, const QString &operation);
};
