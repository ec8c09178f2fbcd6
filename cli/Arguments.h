#pragma once

#include "DriveRules.h"
#include "SetupOptions.h"

#include <QCoreApplication>
#include <QString>
#include <optional>
#include <variant>

// The terminal front end's texts, in one translation context of their own.
struct Cli {
    Q_DECLARE_TR_FUNCTIONS(IsoswmCli)
};

// The exit statuses other than 0.
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

// What the command line asks for.
struct Settings {
    QString source;
    QString destination; // the new image, or the drive's device
    bool force = false;
    bool verbose = false;
    bool direct = false;
    bool bootable = false;
    bool toDrive = false; // --drive
    bool yes = false;
    std::optional<DriveFacts> drive;
    QString temporaryFolder; // --temporary-folder; empty: TMPDIR, else /var/tmp
    SetupOptions setup;
};

// Tells `message` and where to find help on standard error; the usage status.
int usageError(const QString &message);

// The settings, or the exit status when there is nothing to convert (help,
// version, the drive list, or wrong usage, told).
std::variant<Settings, int> parseArguments(const QCoreApplication &app);
