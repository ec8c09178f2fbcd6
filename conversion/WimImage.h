#pragma once

#include "Error.h"

#include <QList>
#include <QString>
#include <functional>
#include <variant>

// Windows image files (WIM, ESD) read through libwim.
namespace WimImage {

struct Edition {
    int index = 0;
    QString name;
    QString description;
};

struct Info {
    QList<Edition> editions;
    QString compression; // "LZX", "LZMS", "XPRESS", "none"
    bool solid = false;  // solid resources, which wimsplit cannot split
    qint64 fileSize = 0;
    int partNumber = 1;
    int totalParts = 1;
};

std::variant<Info, Error> inspect(const QString &path);

} // namespace WimImage

namespace WimImage {

enum class Outcome { Done, Failed, Cancelled };
struct Result {
    Outcome outcome = Outcome::Done;
    Error error; // for Failed
};
// Bytes done and total so far; false stops the work.
using Progress = std::function<bool(qint64 done, qint64 total)>;

// Every edition of `source`, in order, with names and descriptions, into a
// WIM that wimsplit can split (no solid resources). Nothing is left at
// `destination` unless it succeeded.
Result exportForSplit(const QString &source, const QString &destination, const Progress &progress);

// Opens `firstPart` with all its parts and checks every resource.
Result verifySplitSet(const QString &firstPart, const Progress &progress);

} // namespace WimImage
