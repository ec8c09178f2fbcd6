#pragma once

#include <QString>
#include <optional>

// How Windows Setup behaves on the media made: all off unless asked for.
// Hardware checks are skipped inside boot.wim; everything else goes into an
// answer file that setup reads after it has copied Windows.
struct SetupOptions {
    bool skipHardwareChecks = false;
    QString localAccount; // empty: none
    bool skipPrivacyQuestions = false;
    bool noDeviceEncryption = false;
    bool regionalSettingsFromThisComputer = false;

    bool any() const { return editsBootWim() || writesAnswerFile(); }
    bool editsBootWim() const { return skipHardwareChecks; }
    bool writesAnswerFile() const
    {
        return !localAccount.isEmpty() || skipPrivacyQuestions || noDeviceEncryption ||
               regionalSettingsFromThisComputer;
    }
    bool operator==(const SetupOptions &other) const = default;

    // Why Windows would refuse `name` for a local account, translated; none
    // when it takes it.
    static std::optional<QString> accountNameProblem(const QString &name);
    // One line naming the options that are on ("Skip hardware checks, local
    // account “Ana”"), translated; empty when none is.
    QString summary() const;
};
