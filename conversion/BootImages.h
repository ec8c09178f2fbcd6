#pragma once

#include "ElTorito.h"

#include <QString>
#include <QStringList>

// The boot entries of a source image found again among the files of the tree
// the new image is built from, so that the new image boots the same way.
namespace BootImages {

struct Plan {
    // For `hdiutil makehybrid`, one group per entry in the source's order:
    // -eltorito-boot FILE (relative to the tree), -no-emul-boot or
    // -hard-disk-boot, -boot-load-size N, -eltorito-platform x86|efi.
    // Empty when the new image goes without boot records.
    QStringList arguments;
    // Then one line saying why (no boot records, an image that is no file of
    // the tree, an entry the build cannot write); empty otherwise.
    QString notice;
};

// Reads the catalog of `sourceIso`, then plans as below.
Plan plan(const QString &sourceIso, const QString &tree);

// From a catalog read earlier from `sourceIso`, whose image bytes are
// compared with the files of `tree`: the Windows places (boot/etfsboot.com,
// efi/microsoft/boot/efisys.bin) first, then every other file small enough.
// Reads files, so it may take a moment on a tree that lacks those two.
Plan plan(const QString &sourceIso, const ElTorito::CatalogReading &source, const QString &tree);

} // namespace BootImages
