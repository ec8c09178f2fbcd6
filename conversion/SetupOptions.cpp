#include "SetupOptions.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// Names Windows keeps for its own accounts, or refuses for a user's.
const char *const kReserved[] = {
    "administrator", "admin", "guest",    "defaultaccount", "wdagutilityaccount", "defaultuser0",
    "system",        "none",  "everyone", "users",          "administrators",     "guests"};

QString text(const char *source)
{
    return QCoreApplication::translate("Conversion", source);
}

} // namespace

std::optional<QString> SetupOptions::accountNameProblem(const QString &name)
{
    if (name.isEmpty())
        return text(QT_TRANSLATE_NOOP("Conversion", "The account needs a name."));
    if (name.size() > 20)
        return text(QT_TRANSLATE_NOOP("Conversion", "An account name has at most 20 characters."));
    static const QString refused = QStringLiteral("\"/\\[]:;|=,+*?<>@");
    for (const QChar c : name) {
        if (refused.contains(c) || c.category() == QChar::Other_Control)
            return text(QT_TRANSLATE_NOOP(
                "Conversion", "An account name cannot hold \" / \\ [ ] : ; | = , + * ? < > @ or "
                              "control characters."));
    }
    if (name.count(QLatin1Char('.')) + name.count(QLatin1Char(' ')) == name.size())
        return text(
            QT_TRANSLATE_NOOP("Conversion", "An account name cannot be only dots or spaces."));
    for (const char *reserved : kReserved) {
        if (name.compare(QLatin1String(reserved), Qt::CaseInsensitive) == 0)
            return text(QT_TRANSLATE_NOOP("Conversion", "Windows keeps the name “%1” for itself."))
                .arg(name);
    }
    return std::nullopt;
}

QString SetupOptions::summary() const
{
    QStringList parts;
    if (skipHardwareChecks)
        parts << text(QT_TRANSLATE_NOOP("Conversion", "no hardware checks"));
    if (!localAccount.isEmpty())
        parts << text(QT_TRANSLATE_NOOP("Conversion", "local account “%1”")).arg(localAccount);
    if (skipPrivacyQuestions)
        parts << text(QT_TRANSLATE_NOOP("Conversion", "no privacy questions"));
    if (noDeviceEncryption)
        parts << text(QT_TRANSLATE_NOOP("Conversion", "no device encryption"));
    if (regionalSettingsFromThisComputer)
        parts << text(QT_TRANSLATE_NOOP("Conversion", "regional settings of this computer"));
    if (parts.isEmpty())
        return QString();
    return text(QT_TRANSLATE_NOOP("Conversion", "Windows Setup: %1"))
        .arg(parts.join(QStringLiteral(", ")));
}
