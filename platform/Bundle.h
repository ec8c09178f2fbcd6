#pragma once

#include <QString>
#include <optional>

// The application's resources: a folder found relative to the executable
// (<prefix>/share/isoswm next to <prefix>/bin), holding Info.plist, the licence
// text and tools/bin/wimsplit.
namespace Bundle {

QString resourcesPath();
// Tests point the bundle at a folder of their own; an empty path restores the default.
void setResourcesPath(const QString &path);

// `type` is the extension without the dot, empty for none; `directory` is relative
// to the resources folder, empty for its top. Nothing when no such file exists.
std::optional<QString> pathForResource(const QString &name, const QString &type,
                                       const QString &directory = {});

// A string value of Info.plist; nothing when the file or the key is missing.
std::optional<QString> infoValue(const QString &key);

} // namespace Bundle
