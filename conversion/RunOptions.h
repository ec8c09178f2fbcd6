#pragma once

#include "DriveRules.h"
#include "FileSystem.h"
#include "SetupOptions.h"

#include <QString>
#include <optional>

// The disk tools a run calls by path.
struct ToolPaths {
    QString hdiutil;
    QString diskutil;
};

// What one conversion is asked to do.
struct RunOptions {
    QString source;      // the image to convert
    QString destination; // the new image
    bool direct = false; // split and build from the mount, without a staging copy
    bool bootable = false;
    // What the new image may take the place of: the file the user agreed
    // to replace, or anything (--force). A file that appears at the
    // destination meanwhile is never replaced unasked.
    std::optional<FileSystem::FileIdentity> replaces;
    bool replaceAnything = false;
    // A USB installer written to this drive instead of a new image (as
    // the user confirmed it; it is checked again before it is opened).
    std::optional<DriveFacts> drive;
    // Where the temporary directory is made; empty: TMPDIR, else /var/tmp.
    QString temporaryFolder;
    SetupOptions setup; // Windows Setup adjusted; nothing of it by default
    ToolPaths tools;
};
