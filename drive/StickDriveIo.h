#pragma once

#include "Error.h"

#include <QCoreApplication>
#include <optional>

// What the stream's two halves share: how a failure is told, and the tables'
// place on the drive.
namespace StickDriveIo {

struct Text {
    Q_DECLARE_TR_FUNCTIONS(StickWriter)
};

constexpr qint64 kChunk = 4 << 20;
constexpr qint64 kTables = 1 << 20; // each end of the drive

// What a chunk read back is compared by: CRC-32, which finds what a faulty or
// wrapping stick hands back instead, at several GB/s.
quint32 checksum(const char *data, qint64 length);

Error systemError(int err, const QString &what);
Error cancelled();
// No partition table from here on until the new one goes on last.
std::optional<Error> eraseTables(int drive, qint64 size, char *buffer);

} // namespace StickDriveIo
