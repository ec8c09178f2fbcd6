// isoswm-cli: converts one image from the terminal with the same controller as
// the window.

#include "Bundle.h"
#include "ConsolePrompts.h"
#include "Log.h"
#include "MainQueue.h"
#include "ProgressLine.h"
#include "QuitOnSignal.h"
#include "Terminal.h"
#include "Translations.h"
#include "UDisksDrives.h"
#include "ViewController.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The terminal front end's texts, in one translation context of their own.
struct Cli {
    Q_DECLARE_TR_FUNCTIONS(IsoswmCli)
};

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;

const char *const kDescription = QT_TRANSLATE_NOOP(
    "IsoswmCli", "Makes DESTINATION.iso, a copy of the Windows installation image SOURCE.iso in "
                 "which sources/install.wim (or install.esd) is split into install.swm pieces of "
                 "at most 2048 MB, so that the installer fits on FAT32 media.\n"
                 "Progress shows as one updating line on a terminal and otherwise as a plain "
                 "line per stage; alerts and errors go to standard error. Ctrl-C (or SIGTERM, "
                 "SIGHUP) cancels the conversion and waits until its temporary files are "
                 "removed.\n"
                 "With --drive, a USB drive is made the Windows installer instead: everything "
                 "on it is erased, and it gets a FAT32 file system with the image's files and "
                 "the pieces, which computers start from with UEFI. The disk service (UDisks2) "
                 "opens the drive; polkit may ask for a password, as for restoring a disk "
                 "image.\n"
                 "Exit status: 0 when the new image was written, 1 when the conversion failed, "
                 "2 for wrong usage, 130 when it was cancelled.");

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
};

// The help, laid out for the terminal it goes to (80 columns at most): each
// paragraph and each option's description wrapped between words.
QString helpText(const QList<QPair<QString, QString>> &options,
                 const QList<QPair<QString, QString>> &arguments)
{
    const int columns = Terminal::width(STDOUT_FILENO);
    const int width = std::clamp(columns > 0 ? columns - 1 : 79, 40, 79);
    QString text = Cli::tr("Usage: %1 [options] SOURCE.iso DESTINATION.iso")
                       .arg(QCoreApplication::applicationName()) +
                   QLatin1Char('\n') +
                   Cli::tr("       %1 [options] --drive DEVICE SOURCE.iso")
                       .arg(QCoreApplication::applicationName()) +
                   QLatin1Char('\n');
    for (const QString &paragraph : Cli::tr(kDescription).split(QLatin1Char('\n')))
        text += QLatin1Char('\n') + Terminal::wrapped(paragraph, width).join(QLatin1Char('\n')) +
                QLatin1Char('\n');
    qsizetype nameWidth = 0;
    for (const auto &entries : {options, arguments})
        for (const auto &[names, description] : entries)
            nameWidth = std::max(nameWidth, names.size());
    const QString indent(nameWidth + 4, QLatin1Char(' '));
    const auto section = [&](const QString &title, const QList<QPair<QString, QString>> &entries) {
        text += QLatin1Char('\n') + title + QLatin1Char('\n');
        for (const auto &[names, description] : entries) {
            const QStringList lines = Terminal::wrapped(description, int(width - indent.size()));
            text += QStringLiteral("  ") + names.leftJustified(nameWidth + 2) +
                    lines.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
        }
    };
    section(Cli::tr("Options:"), options);
    section(Cli::tr("Arguments:"), arguments);
    return text;
}

// The drives as the disk service tells them now; false, the reason told, when
// it does not answer.
bool askedTheDiskService(UDisksDrives &drives)
{
    QString error;
    if (drives.refresh(&error))
        return true;
    Terminal::print(stderr,
                    Cli::tr("isoswm-cli: the disk service (UDisks2) does not answer: %1").arg(error));
    return false;
}

// The drives the disk service knows that could be written: device, size, name.
int listWritableDrives()
{
    UDisksDrives drives;
    if (!askedTheDiskService(drives))
        return kExitFailed;
    for (const DriveFacts &drive : drives.devices())
        if (!DriveRules::refusal(drive, 0, QDir::homePath()))
            std::printf("%s\t%s\t%s\n", qPrintable(drive.device),
                        qPrintable(StageDetail::formatBytes(drive.size)), qPrintable(drive.name()));
    return 0;
}

int usageError(const QString &message)
{
    Terminal::print(stderr, QStringLiteral("isoswm-cli: ") + message);
    Terminal::print(stderr, Cli::tr("Try “isoswm-cli --help” for more information."));
    return kExitUsage;
}

// The settings, or the exit status when there is nothing to convert.
std::variant<Settings, int> parseArguments(const QCoreApplication &app)
{
    QCommandLineParser parser;
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption direct(QStringLiteral("direct"));
    const QCommandLineOption bootable(QStringLiteral("bootable"));
    const QCommandLineOption listDrives(QStringLiteral("list-drives"));
    const QCommandLineOption drive(QStringLiteral("drive"), QString(), QStringLiteral("DEVICE"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    parser.addOptions({force, verbose, direct, bootable, listDrives, drive, yes, help, version});
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        const QString text = helpText(
            {{QStringLiteral("--force"),
              Cli::tr("Replace DESTINATION.iso if it exists; the old file stays as it was until "
                      "the new image is complete.")},
             {QStringLiteral("--verbose"), Cli::tr("Show the diagnostic log on standard error.")},
             {QStringLiteral("--direct"),
              Cli::tr("Split and build straight from the mounted image, without a staging "
                      "copy: less temporary space and fewer bytes written.")},
             {QStringLiteral("--bootable"),
              Cli::tr("Keep the boot records of the source, so the new image boots like it "
                      "(BIOS and UEFI).")},
             {QStringLiteral("--list-drives"),
              Cli::tr("List the drives a Windows installer could be written to (removable "
                      "drives and disk images attached as loop devices), one a line, and "
                      "exit.")},
             {QStringLiteral("--drive DEVICE"),
              Cli::tr("Make the drive DEVICE (its /dev path, a whole drive) the Windows "
                      "installer, instead of DESTINATION.iso. On a terminal it asks first.")},
             {QStringLiteral("--yes"),
              Cli::tr("Erase the drive without asking; needed when standard input is not a "
                      "terminal.")},
             {QStringLiteral("-h, --help"), Cli::tr("Show this help and exit.")},
             {QStringLiteral("-v, --version"), Cli::tr("Show the version and exit.")}},
            {{QStringLiteral("SOURCE.iso"), Cli::tr("The image to convert.")},
             {QStringLiteral("DESTINATION.iso"), Cli::tr("The new image.")}});
        std::fputs(qPrintable(text), stdout);
        return 0;
    }
    if (parser.isSet(listDrives))
        return listWritableDrives();
    if (parser.isSet(version)) {
        std::printf("isoswm-cli %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    const QStringList paths = parser.positionalArguments();
    if (parser.isSet(drive)) {
        if (paths.size() != 1)
            return usageError(Cli::tr("give SOURCE.iso after --drive DEVICE"));
        Settings settings;
        settings.source = QFileInfo(paths[0]).absoluteFilePath();
        settings.destination = parser.value(drive);
        settings.yes = parser.isSet(yes);
        settings.toDrive = true;
        settings.verbose = parser.isSet(verbose);
        return settings;
    }
    if (paths.size() != 2)
        return usageError(Cli::tr("give SOURCE.iso and DESTINATION.iso"));
    return Settings{QFileInfo(paths[0]).absoluteFilePath(),
                    QFileInfo(paths[1]).absoluteFilePath(),
                    parser.isSet(force),
                    parser.isSet(verbose),
                    parser.isSet(direct),
                    parser.isSet(bootable),
                    false,
                    false,
                    std::nullopt};
}

// The same file under another name: a symbolic or a hard link.
bool sameFile(const QString &a, const QString &b)
{
    struct stat first, second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The drive as the disk service tells it, if it may be written; otherwise
// the exit status, the reason told.
std::variant<DriveFacts, int> chosenDrive(const QString &device)
{
    UDisksDrives drives;
    if (!askedTheDiskService(drives))
        return kExitFailed;
    const std::optional<DriveFacts> drive = drives.find(device);
    if (!drive) {
        Terminal::print(stderr, Cli::tr("isoswm-cli: %1 is not a drive the disk service knows; "
                                        "“isoswm-cli --list-drives” lists those it could write.")
                                    .arg(device));
        return kExitUsage;
    }
    if (const std::optional<QString> why = DriveRules::refusal(*drive, 0, QDir::homePath())) {
        Terminal::print(stderr, QStringLiteral("isoswm-cli: ") + *why);
        return kExitUsage;
    }
    return *drive;
}

// On a terminal, the user's yes; otherwise --yes, or a refusal. The exit
// status when nothing is to be written.
std::optional<int> confirmErase(const Settings &s)
{
    if (s.yes)
        return std::nullopt;
    if (!::isatty(STDIN_FILENO))
        return usageError(Cli::tr("nothing is erased unasked: give --yes to write to %1 "
                                  "without a terminal")
                              .arg(s.drive->device));
    Terminal::print(stderr, Cli::tr("Everything on %1 (%2, %3) will be erased.")
                                .arg(s.drive->name(), s.drive->device,
                                     StageDetail::formatBytes(s.drive->size)));
    std::fputs(qPrintable(Cli::tr("Make it the Windows installer? [y/N] ")), stderr);
    std::fflush(stderr);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return kExitCancelled;
    const QString reply = QString::fromLocal8Bit(answer).trimmed().toLower();
    if (reply == QLatin1String("y") || reply == QLatin1String("yes") ||
        reply == Cli::tr("y") || reply == Cli::tr("yes"))
        return std::nullopt;
    Terminal::print(stderr, Cli::tr("Nothing was written to %1.").arg(s.drive->device));
    return kExitCancelled;
}

// Refusals that need no conversion to find out.
std::optional<QString> refusal(const Settings &s)
{
    if (!QFileInfo(s.source).isFile())
        return Cli::tr("%1 is not a file").arg(s.source);
    if (s.toDrive)
        return std::nullopt;
    if (s.source == s.destination || sameFile(s.source, s.destination))
        return Cli::tr("the destination must differ from the source");
    if (QFileInfo(s.destination).isDir())
        return Cli::tr("%1 is a folder; give the new image a file name").arg(s.destination);
    if (!QFileInfo(QFileInfo(s.destination).absolutePath()).isDir())
        return Cli::tr("the folder of %1 does not exist").arg(s.destination);
    if (QFileInfo::exists(s.destination) && !s.force)
        return Cli::tr("%1 already exists; use --force to replace it").arg(s.destination);
    return std::nullopt;
}

void useToolsFromEnvironment(ViewController &controller)
{
    RunOptions options = controller.options();
    if (const QString t = qEnvironmentVariable("ISOSWM_HDIUTIL"); !t.isEmpty())
        options.tools.hdiutil = t;
    if (const QString t = qEnvironmentVariable("ISOSWM_DISKUTIL"); !t.isEmpty())
        options.tools.diskutil = t;
    controller.setOptions(options);
}

// Runs the conversion to its end; the exit status.
int convert(QCoreApplication &app, const Settings &settings)
{
    ConsolePrompts prompts(settings.source, settings.destination, settings.force);
    ViewController controller(&prompts);
    useToolsFromEnvironment(controller);
    RunOptions options = controller.options();
    options.direct = settings.direct;
    options.bootable = settings.bootable;
    options.replaceAnything = settings.force;
    options.drive = settings.drive;
    controller.setOptions(options);

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
    QObject::connect(&quitOnSignal, &QuitOnSignal::quitRequested, &app, [&] {
        progress.finish();
        app.exit(kExitCancelled);
    });
    QObject::connect(&controller, &ViewController::conversionEnded, &app, [&](bool succeeded) {
        progress.finish();
        const auto outcome = controller.lastOutcome();
        // The output's path, said once, whichever way it went, and on one line
        // (the terminal's own wrap keeps it whole for copying).
        if (succeeded)
            std::printf("%s\n", qPrintable(Cli::tr("Created %1").arg(settings.destination)));
        // A drive may have been written to in part; the warning before says so.
        else if (settings.drive && outcome == ViewController::Outcome::Cancelled)
            std::fprintf(stderr, "%s\n",
                         qPrintable(Cli::tr("Cancelled; the installer on %1 was not finished.")
                                        .arg(settings.destination)));
        else if (settings.drive)
            std::fprintf(stderr, "%s\n",
                         qPrintable(Cli::tr("The installer on %1 was not finished.")
                                        .arg(settings.destination)));
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
