#pragma once

#include "Error.h"

#include <QString>
#include <functional>
#include <optional>

// File operations the conversion needs, each giving back an error value on
// failure and nothing on success. Paths are handled as bytes, so names that
// are not valid UTF-8 (possible on a disc image) survive unchanged.
namespace FileSystem {

struct CopyCallbacks {
    // Asked before each item, the top item first, on the copying thread.
    // Returning false skips the item (and everything beneath a skipped folder).
    std::function<bool(const QString &sourcePath)> shouldCopyItem;
    // Told of each chunk of file data written (a few MiB at most), on the
    // copying thread. Returning false stops the copy where it is, as if every
    // remaining item were refused: no error.
    std::function<bool(qint64 bytes)> copiedBytes;
};

// Copies `source` with everything beneath it to `destination`, which must not
// exist yet. Permissions of every item are copied; symbolic links are copied as
// links and never followed; holes stay holes. Stops at the first item that
// cannot be copied. Fifos, sockets and device nodes are asked about but passed
// over, as if refused. A folder's items come in name order.
std::optional<Error> copyItem(const QString &source, const QString &destination,
                              const CopyCallbacks &callbacks);

// Sets the permission bits of that one item.
std::optional<Error> setPosixPermissions(const QString &path, unsigned mode);

// Gives owner and everyone full access to every folder and file below
// `directory` (not the folder itself), so a tree copied with the read-only
// modes of a disc can be removed. Links are skipped: changing one would change
// what it points to. Failures are ignored; the removal reports what matters.
void openUpTree(const QString &directory);

// Removes the item with everything beneath it. An item that does not exist is
// an error (ENOENT); callers decide whether that matters.
std::optional<Error> removeItem(const QString &path);

// The path of the entry of `directory` whose name equals `name` ignoring letter
// case, preferring an exact match; nothing when there is none.
std::optional<QString> childIgnoringCase(const QString &directory, const QString &name);

// Which file a path names now (device and inode); nothing when there is none.
// Tells the file a user agreed to replace from one that took its name since.
struct FileIdentity {
    // The change time as well: a new file may be given a freed inode number.
    unsigned long long device = 0, inode = 0;
    long long changed = 0, changedNs = 0;
    bool operator==(const FileIdentity &) const = default;
};
std::optional<FileIdentity> identityOf(const QString &path);

// The bytes a file takes on its disk (a sparse file's holes take none); 0
// when there is no such file.
qint64 allocatedBytes(const QString &path);

// Whether the file system of `folder` takes space back from the middle of a
// file (a hole punched in it), tried on a file of its own there.
bool givesSpaceBack(const QString &folder);

// Gives `from` the name `to` only while nothing has that name, in one step
// that no other writer can slip between; EEXIST when something has it.
// 0 or an errno value.
int renameWithoutReplacing(const QString &from, const QString &to);

} // namespace FileSystem
