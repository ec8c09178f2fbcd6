#pragma once

#include "BootImages.h"
#include "DriveRules.h"
#include "Leftovers.h"
#include "SourceCheck.h"
#include "SourceMount.h"

#include <QString>
#include <QStringList>
#include <memory>

class StickStream;

class UDisksDrives;

// The run's private temporary directory, in the temporary folder.
struct WorkFolder {
    QString parent; // the temporary folder it was made in
    QString path;
    QString staging; // the staging copy, when there is one
    std::shared_ptr<RunMarker> marker;
};

// What the split takes and where its pieces go.
struct SplitSet {
    QString source; // the install.wim split
    QString folder; // install.swm and the pieces after it
    bool sourceOnMount = false;

    QString first() const;
    // install.swm, install2.swm, ... as they lie in the folder, in name order.
    QStringList pieces() const;
};

// The whole drive, open for writing, and the disk service that opened it.
struct OpenDrive {
    DriveFacts facts;
    int fd = -1;
    std::shared_ptr<UDisksDrives> service;
    // Its partition tables are gone (the probe, or a write cut short): a run
    // that ends now leaves it without one, and says so.
    bool erased = false;

    // The drive open is still the one checked: a stick swapped while polkit
    // asked, or during the build, is never written.
    bool stillThere() const;
    void close();
};

// How Windows Setup is adjusted: the files that go into the output in place
// of the source's, or beside them, made in a folder of the work folder.
struct SetupPlan {
    QString bootWim;      // the source's boot.wim, when its copy is adjusted
    QString architecture; // "amd64" or "arm64", for the answer file
    QStringList languages;
    QString overlay;      // the folder holding the files, laid out as the image
    QStringList replaced; // relative paths of the source's files they replace
    QStringList added;    // relative paths of files and folders the source lacks

    QStringList files() const { return replaced + added; }
};

// What the steps of a run hand on to the steps after them.
struct RunValues {
    QString temporaryFolder; // as the source check settled it
    std::shared_ptr<SourceMount> source;
    SourceCheck::Layout layout;
    WorkFolder work;
    SplitSet split;
    SetupPlan setup;
    BootImages::Plan boot;
    QString builtImage; // the new image, complete, beside the destination
    OpenDrive drive;
    QString stickImage;
    std::shared_ptr<StickStream> stickStream; // the image on its way to the drive
};
