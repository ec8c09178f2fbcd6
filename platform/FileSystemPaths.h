#pragma once

// What FileSystem's operations share: paths handled as bytes, errors naming
// the item, folders listed in name order.

#include "Error.h"

#include <QFile>
#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace FileSystemPaths {

namespace fs = std::filesystem;

inline fs::path encode(const QString &path)
{
    return fs::path(QFile::encodeName(path).toStdString());
}

inline QString decode(const fs::path &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

inline Error errorAt(int err, const fs::path &path, const char *operation)
{
    return Error::fromErrno(err, decode(path), QString::fromLatin1(operation));
}

// The entries of a folder in name order, so every walk visits items in a
// stable order. An errno value, 0 on success.
inline int listFolder(const fs::path &folder, std::vector<fs::path> &entries)
{
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        entries.push_back(it->path());
    std::sort(entries.begin(), entries.end());
    return ec.value();
}

} // namespace FileSystemPaths
