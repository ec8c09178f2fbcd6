#include "Arguments.h"

#include "DriveChoice.h"
#include "Help.h"
#include "TemporaryFolders.h"
#include "Terminal.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <cstdio>

namespace {

struct Options {
    QCommandLineOption force{QStringLiteral("force")};
    QCommandLineOption verbose{QStringLiteral("verbose")};
    QCommandLineOption direct{QStringLiteral("direct")};
    QCommandLineOption bootable{QStringLiteral("bootable")};
    QCommandLineOption listDrives{QStringLiteral("list-drives")};
    QCommandLineOption drive{QStringLiteral("drive"), QString(), QStringLiteral("DEVICE")};
    QCommandLineOption yes{QStringLiteral("yes")};
    QCommandLineOption temporaryFolder{QStringLiteral("temporary-folder"), QString(),
                                       QStringLiteral("DIR")};
    QCommandLineOption skipHardwareChecks{QStringLiteral("skip-hardware-checks")};
    QCommandLineOption localAccount{QStringLiteral("local-account"), QString(),
                                    QStringLiteral("NAME")};
    QCommandLineOption skipPrivacyQuestions{QStringLiteral("skip-privacy-questions")};
    QCommandLineOption noDeviceEncryption{QStringLiteral("no-device-encryption")};
    QCommandLineOption regionalSettings{QStringLiteral("regional-settings-from-this-computer")};
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")}};
};

// --drive DEVICE SOURCE.iso
std::variant<Settings, int> driveSettings(const QCommandLineParser &parser, const Options &o)
{
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 1)
        return usageError(Cli::tr("give SOURCE.iso after --drive DEVICE"));
    Settings settings;
    settings.source = QFileInfo(paths[0]).absoluteFilePath();
    settings.destination = parser.value(o.drive);
    settings.yes = parser.isSet(o.yes);
    settings.toDrive = true;
    settings.verbose = parser.isSet(o.verbose);
    return settings;
}

// SOURCE.iso DESTINATION.iso
std::variant<Settings, int> imageSettings(const QCommandLineParser &parser, const Options &o)
{
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2)
        return usageError(Cli::tr("give SOURCE.iso and DESTINATION.iso"));
    return Settings{QFileInfo(paths[0]).absoluteFilePath(),
                    QFileInfo(paths[1]).absoluteFilePath(),
                    parser.isSet(o.force),
                    parser.isSet(o.verbose),
                    parser.isSet(o.direct),
                    parser.isSet(o.bootable),
                    false,
                    false,
                    std::nullopt,
                    {},
                    {}};
}

// Either way, the folder for the large temporary files, refused at once when
// it cannot take them.
std::variant<Settings, int> withTemporaryFolder(std::variant<Settings, int> parsed,
                                                const QCommandLineParser &parser, const Options &o)
{
    Settings *settings = std::get_if<Settings>(&parsed);
    if (!settings || !parser.isSet(o.temporaryFolder))
        return parsed;
    settings->temporaryFolder = QFileInfo(parser.value(o.temporaryFolder)).absoluteFilePath();
    if (const std::optional<QString> why = TemporaryFolders::refusal(settings->temporaryFolder))
        return usageError(*why);
    return parsed;
}

// The Windows Setup options; an account name Windows would refuse is wrong usage.
std::variant<SetupOptions, int> setupOptions(const QCommandLineParser &parser, const Options &o)
{
    SetupOptions setup;
    setup.skipHardwareChecks = parser.isSet(o.skipHardwareChecks);
    setup.skipPrivacyQuestions = parser.isSet(o.skipPrivacyQuestions);
    setup.noDeviceEncryption = parser.isSet(o.noDeviceEncryption);
    setup.regionalSettingsFromThisComputer = parser.isSet(o.regionalSettings);
    if (parser.isSet(o.localAccount)) {
        setup.localAccount = parser.value(o.localAccount);
        if (const auto problem = SetupOptions::accountNameProblem(setup.localAccount))
            return usageError(QStringLiteral("--local-account: ") + *problem);
    }
    return setup;
}

} // namespace

int usageError(const QString &message)
{
    Terminal::print(stderr, QStringLiteral("isoswm-cli: ") + message);
    Terminal::print(stderr, Cli::tr("Try “isoswm-cli --help” for more information."));
    return kExitUsage;
}

std::variant<Settings, int> parseArguments(const QCoreApplication &app)
{
    const Options o;
    QCommandLineParser parser;
    parser.addOptions({o.force, o.verbose, o.direct, o.bootable, o.listDrives, o.drive, o.yes,
                       o.temporaryFolder, o.skipHardwareChecks, o.localAccount,
                       o.skipPrivacyQuestions, o.noDeviceEncryption, o.regionalSettings, o.help,
                       o.version});
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(o.help)) {
        printHelp();
        return 0;
    }
    if (parser.isSet(o.listDrives))
        return listWritableDrives();
    if (parser.isSet(o.version)) {
        std::printf("isoswm-cli %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    const auto setup = setupOptions(parser, o);
    if (const int *status = std::get_if<int>(&setup))
        return *status;
    auto settings = withTemporaryFolder(
        parser.isSet(o.drive) ? driveSettings(parser, o) : imageSettings(parser, o), parser, o);
    if (Settings *s = std::get_if<Settings>(&settings))
        s->setup = std::get<SetupOptions>(setup);
    return settings;
}
