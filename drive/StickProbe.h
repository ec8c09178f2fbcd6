#pragma once

#include <QList>
#include <QString>
#include <functional>

// Finds a stick that holds less than it claims before anything long is
// written to it. Such a stick either wraps what is written past its real size
// onto its start or drops it, so distinct patterns are written at offsets
// spread over the whole claimed capacity, then read back past the page cache:
// a dense stretch at the start and, no further apart than that stretch is
// long, single blocks over the rest (the last MiB and every power of two
// among them). Wherever the stick wraps, some block lands on the dense
// stretch, and one of the two then reads back wrong. Every block written is
// zeroed again, so the stick is left without a partition table.
namespace StickProbe {

constexpr qint64 kBlock = 4096;

struct Region {
    qint64 offset;
    qint64 length;
};

// What is written, in order: the dense stretch first.
QList<Region> regions(qint64 size);

enum class Outcome { Holds, Smaller, ReadOnly, Failed, Cancelled };
struct Result {
    Outcome outcome = Outcome::Holds;
    qint64 where = -1; // the first offset that did not read back
    int error = 0;     // the system's reason for Failed and ReadOnly
};

// `drive` is the whole drive, open for reading and writing, `size` the
// capacity it claims. `keepGoing` false ends it early; what was written is
// zeroed all the same.
Result probe(int drive, qint64 size, const std::function<bool()> &keepGoing);

} // namespace StickProbe
