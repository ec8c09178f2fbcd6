#include "Error.h"

#include <QFileInfo>

Error Error::fromErrorCode(std::error_code code, const QString &path, const QString &operation)
{
    const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
    Error e;
    e.message = QStringLiteral("“%1” couldn’t be %2.").arg(name, operation);
    e.details = QStringLiteral("%1 (%2)").arg(QString::fromStdString(code.message()), path);
    e.code = code.value();
    return e;
}

Error Error::fromErrno(int err, const QString &path, const QString &operation)
{
    return fromErrorCode(std::error_code(err, std::generic_category()), path, operation);
}
