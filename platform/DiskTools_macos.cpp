#include "DiskTools.h"

namespace DiskTools {
QString hdiutilPath()
{
    return QStringLiteral("/usr/bin/hdiutil");
}
QString diskutilPath()
{
    return QStringLiteral("/usr/sbin/diskutil");
}
} // namespace DiskTools
