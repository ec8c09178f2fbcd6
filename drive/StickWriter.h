#pragma once

#include "Error.h"

#include <QString>
#include <functional>
#include <optional>

// Writes a stick image (StickImage) onto a drive opened for writing, so that a
// write cut short never leaves a stick that looks finished: the old partition
// tables are erased first, then the image's data is written (its holes are
// unused space and are skipped), the new tables last; then everything written
// is read back past the page cache and compared.
namespace StickWriter {

enum class Phase { Writing, Verifying };
// Told the bytes done of the phase's total; false stops the write.
using Progress = std::function<bool(Phase phase, qint64 done, qint64 total)>;

// `drive` is the whole drive, open for reading and writing. The error's code
// is ECANCELED when `progress` stopped it. `touched` tells whether anything
// was written to the drive: after a failure, it then has no partition table.
std::optional<Error> write(const QString &image, int drive, const Progress &progress,
                           bool *touched = nullptr);

} // namespace StickWriter
