#pragma once

#include "Error.h"
#include "WimImage.h"

#include <QString>
#include <variant>

// Everything worth knowing about a mounted source before a byte is copied, and
// every cheap reason not to start: not a Windows installation image, already
// split, a destination that cannot be written, too little free space.
namespace SourceCheck {

struct Request {
    QString isoPath;
    QString mountPath;
    QString destination;     // the new image
    QString temporaryFolder; // where the temporary directory will be made
    bool direct = false;     // split from the mount, no staging copy
    bool drive = false;      // a USB drive instead of a destination file
    // Folders of the user's that may take the temporary files instead, when
    // the temporary folder is short of room; the first with room is named.
    QStringList alternatives;
    qint64 extraTemporary = 0; // files of the run's own beside the conversion's
};

struct Layout {
    QString sourcesFolder; // on the mounted volume
    QString imagePath;     // install.wim or install.esd on the mounted volume
    bool isEsd = false;
    WimImage::Info wim;
    qint64 treeBytes = 0;  // all regular files of the volume
    qint64 imageBytes = 0; // the Windows image file

    // wimsplit cannot split solid resources; those are exported first.
    bool needsExport() const { return isEsd || wim.solid; }
    // The sources folder's name as the volume spells it ("sources").
    QString sourcesName() const;
};

struct Needs {
    qint64 temporary = 0;   // peak in the temporary folder
    qint64 destination = 0; // the new image
};

// Everything but the temporary folder's room.
std::variant<Layout, Error> inspect(const Request &request);

// The temporary folder cannot take the run: too little room, or a file
// larger than its file system holds. `roomy` is another folder that has the
// room, when one of the request's alternatives does.
struct Shortage {
    Error error;
    QString roomy;
};
std::optional<Shortage> temporaryShortage(const Request &request, const Layout &layout);

// A USB installer's files (the tree without the Windows image, and its
// pieces), and the temporary folder's peak while it is made: the stick's
// image holding them, the pieces until they are in it, and the export until
// it is split.
struct StickNeeds {
    qint64 content = 0;
    qint64 temporary = 0;
};
StickNeeds stickNeeded(const Layout &layout, bool givesSpaceBack = true);

// What a conversion of `layout` needs in each place, with a margin. When both
// lie on one file system, `temporary` is the peak of the two together and
// `destination` is 0.
Needs spaceNeeded(const Layout &layout, bool direct, bool sameFileSystem);

} // namespace SourceCheck
