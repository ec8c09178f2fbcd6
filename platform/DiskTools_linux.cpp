#include "DiskTools.h"

#include <QCoreApplication>
#include <QDir>

// The stand-ins are built into <prefix>/libexec/isoswm, next to <prefix>/bin.
static QString libexecTool(const QString &name)
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../libexec/isoswm/") + name);
}

namespace DiskTools {
QString hdiutilPath()
{
    return libexecTool(QStringLiteral("hdiutil"));
}
QString diskutilPath()
{
    return libexecTool(QStringLiteral("diskutil"));
}
} // namespace DiskTools
