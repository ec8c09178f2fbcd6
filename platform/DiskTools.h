#pragma once

#include <QString>

// Absolute paths of the system's disk-image tools. On macOS these are the
// system's own; on Linux they are the stand-ins built from diskimage/.
namespace DiskTools {

QString hdiutilPath();
QString diskutilPath();

} // namespace DiskTools
