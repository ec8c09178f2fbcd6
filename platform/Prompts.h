#pragma once

#include "Error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Everything the conversion asks of the user goes through this interface: the
// window answers with dialogs, the terminal front end from its command line,
// tests from a script.
class Prompts {
public:
    virtual ~Prompts() = default;

    struct OpenPanel {
        QString message;
        QStringList allowedFileTypes; // extensions without the dot, e.g. "iso"
        bool canChooseDirectories = false;
        bool canCreateDirectories = false;
    };
    // Shows the open panel without blocking. The completion runs later on the
    // main thread, with the chosen path or nothing when the panel was dismissed.
    virtual void beginOpenPanel(const OpenPanel &panel,
                                std::function<void(std::optional<QString> path)> completion) = 0;

    struct SavePanel {
        QStringList allowedFileTypes;
        QString nameFieldStringValue;
    };
    // Modal save panel: the confirmed destination, or nothing when dismissed. Asking
    // whether an existing file may be replaced is the panel's own business.
    virtual std::optional<QString> runSavePanel(const SavePanel &panel) = 0;

    // Modal alert with the platform's single default button. `details` is the
    // reason behind it, for those who want it (a tool's own words).
    virtual void runAlert(const QString &message, const QString &informativeText,
                          const QString &details = QString()) = 0;

    // Modal alert with a second button, `action`, beside the default one:
    // true when it was chosen. Front ends with no such choice show the alert.
    virtual bool runChoice(const QString &message, const QString &informativeText,
                           const QString &action)
    {
        Q_UNUSED(action);
        runAlert(message, informativeText);
        return false;
    }

    // Modal alert built from an error value.
    virtual void runErrorAlert(const Error &error) = 0;
};
