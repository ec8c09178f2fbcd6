#pragma once

#include "Error.h"

#include <QString>
#include <functional>
#include <optional>

// File operations the conversion needs, each giving back an error value on
// failure and nothing on success.
namespace FileSystem {

// Asked before each item of a copy, the top item first, on the copying thread.
// Returning false skips the item (and everything beneath a skipped folder).
using ShouldCopyItem = std::function<bool(const QString &sourcePath)>;

// Copies `source` with everything beneath it to `destination`, which must not
// exist yet. Permissions of every item are copied; symbolic links are copied as
// links and never followed. Stops at the first item that cannot be copied.
// A skipped item is no error. Fifos, sockets and device nodes are asked about
// but passed over, as if refused. A folder's items come in name order.
std::optional<Error> copyItem(const QString &source, const QString &destination,
                              const ShouldCopyItem &shouldCopy);

// Sets the permission bits of that one item.
std::optional<Error> setPosixPermissions(const QString &path, unsigned mode);

// Removes the item with everything beneath it. An item that does not exist is
// an error (ENOENT); callers decide whether that matters.
std::optional<Error> removeItem(const QString &path);

// Every entry beneath `directory`, at any depth, as paths relative to it, each
// folder before its contents. Symbolic links are listed, not followed.
QStringList enumerate(const QString &directory);

// The path of the entry of `directory` whose name equals `name` ignoring letter
// case, preferring an exact match; nothing when there is none.
std::optional<QString> childIgnoringCase(const QString &directory, const QString &name);

} // namespace FileSystem
