#pragma once

#include "Arguments.h"

#include <optional>
#include <variant>

// The drives of the disk service (UDisks2) for --list-drives and --drive.

// Prints the drives the disk service knows that could be written, one a line
// (device, size, name); the exit status.
int listWritableDrives();

// The drive as the disk service tells it, if it may be written; otherwise
// the exit status, the reason told.
std::variant<DriveFacts, int> chosenDrive(const QString &device);

// On a terminal, the user's yes; otherwise --yes, or a refusal. The exit
// status when nothing is to be written.
std::optional<int> confirmErase(const Settings &s);
