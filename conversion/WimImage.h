#pragma once

#include "Error.h"

#include <QList>
#include <QString>
#include <functional>
#include <variant>

// Numbered as libwim numbers them.
enum class WimCompression { None = 0, Xpress = 1, Lzx = 2, Lzms = 3 };

struct WimExportOptions {
    // libwim's quick LZX: on 1.5 GiB of programs and libraries from an LZMS ESD it
    // exported five times faster than the default level 50 (70 against 14.5 MiB/s on
    // two cores) for 3.7 % more output, and at XPRESS's speed 9 % smaller than
    // XPRESS (bench/wim-export). Levels below 35 all behave alike.
    static constexpr unsigned kDefaultLevel = 20;

    WimCompression compression = WimCompression::Lzx; // or XPRESS; LZMS would stay solid
    unsigned level = kDefaultLevel;                   // 50 is libwim's default; higher packs harder
    unsigned threads = 0;                             // 0: one per processor
};

// A Windows image (install.wim, install.esd, a split install.swm set) read and
// rewritten through libwim. Every call runs to its end on the calling thread,
// which also receives the progress calls; calls from several threads at once
// are safe.
class WimImage {
public:
    struct Edition {
        int index = 0; // 1-based, as the installer counts
        QString name;
        QString description;
        QString displayName;
        QString flags;          // the edition id, e.g. "Professional"
        quint64 totalBytes = 0; // size of the edition's files once installed
    };

    struct Info {
        QList<Edition> editions; // in the file's order
        WimCompression compression = WimCompression::None;
        // The header's: that of the non-solid resources. Solid ones may use another.
        QString compressionName; // "LZX", "LZMS", "XPRESS" or "None"
        bool solid = false;      // any resource solid: wimsplit refuses the file
        quint64 fileSize = 0;
        int partNumber = 1; // a split set's piece: its number and the set's count
        int totalParts = 1;
        quint32 chunkSize = 0;
        quint64 uniqueBytes = 0; // every stored blob once, uncompressed
        quint64 storedBytes = 0; // the same blobs as this file stores them
    };

    enum class Outcome { Done, Failed, Cancelled };
    struct Result {
        Outcome outcome = Outcome::Done;
        Error error; // why, when Failed
    };

    // Bytes done and the total (0 while not known yet), called often; returning
    // false stops the operation, which then ends Cancelled.
    using Progress = std::function<bool(quint64 done, quint64 total)>;

    static std::variant<Info, Error> inspect(const QString &path);

    // Writes every edition of `source`, in order, with its name, description and
    // flags, into a new non-solid WIM at `destination` that wimsplit accepts.
    // `destination` must not exist yet; a failed or cancelled export removes what
    // it wrote.
    static Result exportForSplit(const QString &source, const QString &destination,
                                 const Progress &progress, const WimExportOptions &options = {});

    // Opens `firstPiece` (install.swm) with the pieces beside it (install*.swm,
    // any letter case) and checks every blob as wimverify does.
    static Result verifySplitSet(const QString &firstPiece, const Progress &progress);

    // Room the exported WIM needs, from the source's header; see the definition
    // for how close it comes.
    static quint64 estimatedExportBytes(const Info &info);
};
