#pragma once

#include <QList>
#include <QString>
#include <optional>

// Reads the FAT32 file system of a stick's image to tell where each file's
// data lies and which clusters hold folders. A file's data never moves once
// it is placed; folders, the FATs and the boot sectors change with every file
// added, so they are written last.
namespace FatScan {

// Offsets are from the start of the image; the file system starts at
// `partition`.
struct Geometry {
    qint64 partition = 0;
    qint64 fatStart = 0;     // the first FAT
    qint64 fatBytes = 0;     // one FAT
    qint64 dataStart = 0;    // cluster 2
    qint64 clusterBytes = 0;
    quint32 clusters = 0;    // data clusters
    quint32 rootCluster = 2;
    qint64 end = 0; // the file system's end

    qint64 offsetOf(quint32 cluster) const { return dataStart + (cluster - 2) * clusterBytes; }
};

// A stretch of the image: whole clusters of one file, or of folders.
struct Extent {
    qint64 offset = 0;
    qint64 length = 0;
    quint32 firstCluster = 0;
    QString file; // the file's path in the file system; a folder's ends in '/',
                  // the root's is empty
};

struct Map {
    QList<Extent> files;   // in the order of the file system's tree
    QList<Extent> folders; // each folder's in the order of its chain
    bool complete = true;  // false when the image could not be read whole
};

std::optional<Geometry> geometry(int image, qint64 partition);

// Where everything lies now. A chain that loops or leaves the file system
// ends where it does; nothing is read past the image.
Map scan(int image, const Geometry &geometry);

} // namespace FatScan
