#pragma once

#include "Error.h"
#include "FatScan.h"

#include <variant>

// Gives a file its place in a stick's FAT32 file system without writing its
// data: a run of free clusters after the last one in use, chained in both
// FATs, and an entry in its folder. The data then goes to the drive straight
// from the file, never through the image.
namespace FatPlace {

// Whether `name` fits a short entry as it is ("install2.swm"); other names
// ("install10.swm") get a long name and a short alias.
bool fitsShortEntry(const QString &name);

// `folder` is a folder's path from the root ("sources"), as FatScan names it;
// `size` is below 4 GiB.
std::variant<FatScan::Extent, Error> reserve(int image, const FatScan::Geometry &geometry,
                                             const QString &folder, const QString &name,
                                             qint64 size);

} // namespace FatPlace
