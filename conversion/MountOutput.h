#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// Reading what the disk-image tool prints during the mount stage.
namespace MountOutput {

struct AttachedImage {
    QString imagePath;
    QStringList mountPoints; // the entities that carry a mount point, in order
    // The process that attached it, when the list says so, and whether it
    // still lives: a live one's mount is in use and never ours to take down.
    qint64 ownerPid = 0;
    bool ownerAlive = false;
};

// The records of the attached-image list (`hdiutil info -plist`, XML or binary),
// in order; records without an image path are left out. Empty when the bytes
// are no property list or hold no "images".
std::vector<AttachedImage> parseAttachedImages(const QByteArray &plist);

// Whether a record names the image being converted: both paths compared in
// lower case, nothing else normalised.
bool isSameImage(const QString &recordPath, const QString &isoPath);

// The mount point in the attach output: what follows the last tab of the whole
// text, trimmed. Nothing when the bytes are not valid UTF-8.
std::optional<QString> mountPointFromAttachOutput(const QByteArray &output);

} // namespace MountOutput
