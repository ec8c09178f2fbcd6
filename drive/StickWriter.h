#pragma once

#include "Error.h"
#include "StickStream.h"

#include <QString>
#include <optional>

// Writes a finished stick image (StickImage) onto a drive opened for writing,
// as StickStream does while one is built: the old partition tables erased
// first, the files' data, then the file system's own tables, the new
// partition tables last; then everything written is read back past the page
// cache and compared.
namespace StickWriter {

using Phase = StickStream::Phase;
using Progress = StickStream::Progress;

// `drive` is the whole drive, open for reading and writing. The error's code
// is ECANCELED when `progress` stopped it. `touched` tells whether anything
// was written to the drive: after a failure, it then has no partition table.
std::optional<Error> write(const QString &image, int drive, const Progress &progress,
                           bool *touched = nullptr);

} // namespace StickWriter
