#pragma once

#include "Arguments.h"

#include <QCoreApplication>
#include <optional>

// A conversion run from the terminal, with the same controller as the window.

// Refusals that need no conversion to find out.
std::optional<QString> refusal(const Settings &s);

// Runs the conversion to its end; the exit status.
int convert(QCoreApplication &app, const Settings &settings);
