// isoswm-cli: converts one image from the terminal with the same controller as
// the window.

#include "Arguments.h"
#include "Bundle.h"
#include "ConsoleRun.h"
#include "DriveChoice.h"
#include "Log.h"
#include "Terminal.h"
#include "Translations.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("isoswm-cli"));
    QCoreApplication::setApplicationVersion(
        Bundle::infoValue(QStringLiteral("CFBundleShortVersionString"))
            .value_or(QStringLiteral("?")));
    if (const QString resources = qEnvironmentVariable("ISOSWM_RESOURCES"); !resources.isEmpty())
        Bundle::setResourcesPath(resources);
    Translations::install(app);

    const std::variant<Settings, int> parsed = parseArguments(app);
    if (const int *status = std::get_if<int>(&parsed))
        return *status;
    Settings settings = std::get<Settings>(parsed);
    if (const std::optional<QString> why = refusal(settings)) {
        Terminal::print(stderr, QStringLiteral("isoswm-cli: ") + *why);
        return kExitUsage;
    }
    if (settings.toDrive) {
        std::variant<DriveFacts, int> drive = chosenDrive(settings.destination);
        if (const int *status = std::get_if<int>(&drive))
            return *status;
        settings.drive = std::get<DriveFacts>(drive);
        if (const std::optional<int> status = confirmErase(settings))
            return *status;
    }
    Log::setEchoToStderr(false);
    return convert(app, settings);
}
