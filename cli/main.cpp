// isoswm-cli: converts one image from the terminal with the same controller as
// the window.

#include "Bundle.h"
#include "ConsolePrompts.h"
#include "Log.h"
#include "MainQueue.h"
#include "ProgressLine.h"
#include "QuitOnSignal.h"
#include "Translations.h"
#include "ViewController.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

// The terminal front end's texts, in one translation context of their own.
struct Cli {
    Q_DECLARE_TR_FUNCTIONS(IsoswmCli)
};

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

const char *const kDescription = QT_TRANSLATE_NOOP(
    "IsoswmCli", "Makes DESTINATION.iso, a copy of the Windows installation image SOURCE.iso\n"
                 "in which sources/install.wim (or install.esd) is split into install.swm\n"
                 "pieces of at most 2048 MB, so that the installer fits on FAT32 media.\n"
                 "\n"
                 "Progress shows as one updating line on a terminal and as plain lines\n"
                 "otherwise; alerts and errors go to standard error. Ctrl-C (or SIGTERM,\n"
                 "SIGHUP) cancels the conversion and waits until its temporary files are\n"
                 "removed.\n"
                 "\n"
                 "Exit status: 0 when the new image was written, 1 when the conversion failed,\n"
                 "2 for wrong usage, 130 when it was cancelled.\n"
                 "\n"
                 "For testing, ISOSWM_HDIUTIL, ISOSWM_DISKUTIL and ISOSWM_RESOURCES name other\n"
                 "disk tools and another resources folder.");

struct Settings {
    QString source;
    QString destination;
    bool force = false;
    bool verbose = false;
    bool direct = false;
    bool bootable = false;
};

int usageError(const QCommandLineParser &parser, const QString &message)
{
    std::fprintf(stderr, "isoswm-cli: %s\n\n%s", qPrintable(message),
                 qPrintable(parser.helpText()));
    return kExitUsage;
}

// The settings, or the exit status when there is nothing to convert.
std::variant<Settings, int> parseArguments(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Cli::tr(kDescription));
    const QCommandLineOption force(QStringLiteral("force"),
                                   Cli::tr("Replace DESTINATION.iso if it exists; the old "
                                           "file stays as it was until the new image is "
                                           "complete."));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     Cli::tr("Show the diagnostic log on standard error."));
    const QCommandLineOption direct(QStringLiteral("direct"),
                                    Cli::tr("Split and build straight from the mounted "
                                            "image, without a staging copy: less "
                                            "temporary space and fewer bytes written."));
    const QCommandLineOption bootable(QStringLiteral("bootable"),
                                      Cli::tr("Keep the boot records of the source, so "
                                              "the new image boots like it (BIOS and "
                                              "UEFI)."));
    parser.addOptions({force, verbose, direct, bootable});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("SOURCE.iso"), Cli::tr("The image to convert."));
    parser.addPositionalArgument(QStringLiteral("DESTINATION.iso"), Cli::tr("The new image."));
    if (!parser.parse(app.arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("isoswm-cli %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() != 2)
        return usageError(parser, Cli::tr("give SOURCE.iso and DESTINATION.iso"));
    return Settings{QFileInfo(paths[0]).absoluteFilePath(),
                    QFileInfo(paths[1]).absoluteFilePath(),
                    parser.isSet(force),
                    parser.isSet(verbose),
                    parser.isSet(direct),
                    parser.isSet(bootable)};
}

// Refusals that need no conversion to find out.
std::optional<QString> refusal(const Settings &s)
{
    if (!QFileInfo(s.source).isFile())
        return Cli::tr("%1 is not a file").arg(s.source);
    if (s.source == s.destination)
        return Cli::tr("the destination must differ from the source");
    if (!QFileInfo(QFileInfo(s.destination).absolutePath()).isDir())
        return Cli::tr("the folder of %1 does not exist").arg(s.destination);
    if (QFileInfo::exists(s.destination) && !s.force)
        return Cli::tr("%1 already exists; use --force to replace it").arg(s.destination);
    return std::nullopt;
}

void useToolsFromEnvironment(ViewController &controller)
{
    ViewController::Tools tools = controller.tools();
    if (const QString t = qEnvironmentVariable("ISOSWM_HDIUTIL"); !t.isEmpty())
        tools.hdiutil = t;
    if (const QString t = qEnvironmentVariable("ISOSWM_DISKUTIL"); !t.isEmpty())
        tools.diskutil = t;
    controller.setTools(tools);
}

// Runs the conversion to its end; the exit status.
int convert(QCoreApplication &app, const Settings &settings)
{
    ConsolePrompts prompts(settings.source, settings.destination, settings.force);
    ViewController controller(&prompts);
    useToolsFromEnvironment(controller);
    controller.setDirect(settings.direct);
    controller.setBootable(settings.bootable);
    controller.setReplaceAnything(settings.force);

    ProgressLine progress(&controller);
    prompts.beforeAlert = [&] { progress.stopShowing(); };
    // Log lines come from worker threads too; they are printed here, in order,
    // above the progress line.
    const Log::ListenerId listener =
        settings.verbose ? Log::addListener([&progress](const QString &line) {
            MainQueue::async(&progress, [&progress, line] { progress.printAbove(line, true); });
        })
                         : Log::ListenerId();

    QObject::connect(&controller, &ViewController::noticeChanged, &progress, [&] {
        if (!controller.notice().isEmpty())
            progress.printAbove(Cli::tr("isoswm-cli: warning: %1").arg(controller.notice()), true);
    });

    QuitOnSignal quitOnSignal(&controller);
    QObject::connect(&quitOnSignal, &QuitOnSignal::stopping, &app, [&] {
        progress.printAbove(
            Cli::tr("isoswm-cli: cancelling; waiting for the temporary files to be removed"), true);
    });
    QObject::connect(&quitOnSignal, &QuitOnSignal::quitRequested, &app,
                     [&] { app.exit(kExitCancelled); });
    QObject::connect(&controller, &ViewController::conversionEnded, &app, [&](bool succeeded) {
        progress.finishLine();
        const auto outcome = controller.lastOutcome();
        // The output's path, said once, whichever way it went.
        if (succeeded)
            std::printf("%s\n", qPrintable(Cli::tr("Created %1").arg(settings.destination)));
        else if (outcome == ViewController::Outcome::Cancelled)
            std::fprintf(
                stderr, "%s\n",
                qPrintable(Cli::tr("Cancelled; %1 was not written.").arg(settings.destination)));
        else
            std::fprintf(stderr, "%s\n",
                         qPrintable(Cli::tr("%1 was not written.").arg(settings.destination)));
        std::fflush(stdout);
        app.exit(succeeded                                       ? 0
                 : outcome == ViewController::Outcome::Cancelled ? kExitCancelled
                                                                 : kExitFailed);
    });

    controller.viewDidLoad();
    controller.setIsoPath(settings.source);
    controller.convertButtonPressed();
    // A start that did not get under way (the destination was refused).
    if (!controller.isRunning())
        return kExitFailed;
    const int status = app.exec();
    if (listener)
        Log::removeListener(listener);
    return status;
}

} // namespace

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
    const Settings &settings = std::get<Settings>(parsed);
    if (const std::optional<QString> why = refusal(settings)) {
        std::fprintf(stderr, "isoswm-cli: %s\n", qPrintable(*why));
        return kExitUsage;
    }
    Log::setEchoToStderr(false);
    return convert(app, settings);
}
