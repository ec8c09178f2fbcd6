#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A USB installer built as a file of the drive's exact size, without mounting
// anything: a GPT with one Microsoft basic data partition from 1 MiB to the
// end (sfdisk), formatted FAT32 (mformat) and filled file by file (mcopy), as
// image builders fill FAT images.
namespace StickImage {

constexpr qint64 kPartitionOffset = 1 << 20;

// Asked now and then while a tool works; false stops it, and the call fails
// with ECANCELED.
using KeepGoing = std::function<bool()>;
// Told after each batch of files is placed; an error stops the copy.
using Placed = std::function<std::optional<Error>()>;

// What FAT takes of a volume label: 11 characters at most, upper case, the
// characters it refuses replaced by '_'; "WINDOWS" when nothing is left.
QString fatLabel(const QString &volumeLabel);

// Makes `image`, sparse, `size` bytes, with the partition table and an empty
// file system labelled `label`.
std::optional<Error> create(const QString &image, qint64 size, const QString &label,
                            const KeepGoing &keepGoing = {});

// Copies the contents of the folder `source` into the file system's root,
// folders and all, leaving out `excluded` (paths relative to `source`).
std::optional<Error> copyTree(const QString &image, const QString &source,
                              const QStringList &excluded = {}, const KeepGoing &keepGoing = {},
                              const Placed &placed = {});

// Copies one file, or a folder with all it holds, into the folder `folder`
// of the file system ("/sources"), over what is there by that name.
std::optional<Error> copyFile(const QString &image, const QString &file, const QString &folder,
                              const KeepGoing &keepGoing = {}, const Placed &placed = {});


} // namespace StickImage
