#include "ConsoleRun.h"

#include "ConsolePrompts.h"
#include "Log.h"
#include "MainQueue.h"
#include "ProgressLine.h"
#include "QuitOnSignal.h"
#include "ViewController.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <sys/stat.h>

namespace {

using Outcome = ViewController::Outcome;

// The same file under another name: a symbolic or a hard link.
bool sameFile(const QString &a, const QString &b)
{
    struct stat first, second;
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The run's options, as the controller takes them; the disk tools may come
// from the environment (tests).
void applyOptions(ViewController &controller, const Settings &settings)
{
    RunOptions options = controller.options();
    if (const QString t = qEnvironmentVariable("ISOSWM_HDIUTIL"); !t.isEmpty())
        options.tools.hdiutil = t;
    if (const QString t = qEnvironmentVariable("ISOSWM_DISKUTIL"); !t.isEmpty())
        options.tools.diskutil = t;
    options.direct = settings.direct;
    options.bootable = settings.bootable;
    options.replaceAnything = settings.force;
    options.drive = settings.drive;
    options.temporaryFolder = settings.temporaryFolder;
    options.setup = settings.setup;
    controller.setOptions(options);
}

// Log lines come from worker threads too; they are printed here, in order,
// above the progress line.
Log::ListenerId echoLog(ProgressLine &progress)
{
    return Log::addListener([&progress](const QString &line) {
        MainQueue::async(&progress, [&progress, line] { progress.printAbove(line, true); });
    });
}

// The output's path, said once, whichever way it went, and on one line (the
// terminal's own wrap keeps it whole for copying); the exit status.
int sayOutcome(const Settings &settings, bool succeeded, std::optional<Outcome> outcome)
{
    const bool cancelled = outcome == Outcome::Cancelled;
    const auto sayError = [](const QString &text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    };
    if (succeeded)
        std::printf("%s\n", qPrintable(Cli::tr("Created %1").arg(settings.destination)));
    // A drive may have been written to in part; the warning before says so.
    else if (settings.drive && cancelled)
        sayError(
            Cli::tr("Cancelled; the installer on %1 was not finished.").arg(settings.destination));
    else if (settings.drive)
        sayError(Cli::tr("The installer on %1 was not finished.").arg(settings.destination));
    else if (cancelled)
        sayError(Cli::tr("Cancelled; %1 was not written.").arg(settings.destination));
    else
        sayError(Cli::tr("%1 was not written.").arg(settings.destination));
    std::fflush(stdout);
    return succeeded ? 0 : cancelled ? kExitCancelled : kExitFailed;
}

// Warnings, a cancel by signal and the end of the run, told above the
// progress line; the event loop ends with the run's exit status.
void follow(QCoreApplication &app, ViewController &controller, ProgressLine &progress,
            QuitOnSignal &quitOnSignal, const Settings &settings)
{
    QObject::connect(&controller, &ViewController::noticeChanged, &progress, [&] {
        if (!controller.notice().isEmpty())
            progress.printAbove(Cli::tr("isoswm-cli: warning: %1").arg(controller.notice()), true);
    });
    QObject::connect(&quitOnSignal, &QuitOnSignal::stopping, &app, [&] {
        progress.printAbove(
            Cli::tr("isoswm-cli: cancelling; waiting for the temporary files to be removed"), true);
    });
    QObject::connect(&quitOnSignal, &QuitOnSignal::quitRequested, &app, [&] {
        progress.finish();
        app.exit(kExitCancelled);
    });
    QObject::connect(&controller, &ViewController::conversionEnded, &app,
                     [&app, &controller, &progress, &settings](bool succeeded) {
                         progress.finish();
                         app.exit(sayOutcome(settings, succeeded, controller.lastOutcome()));
                     });
}

} // namespace

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

int convert(QCoreApplication &app, const Settings &settings)
{
    ConsolePrompts prompts(settings.source, settings.destination, settings.force);
    ViewController controller(&prompts);
    applyOptions(controller, settings);

    ProgressLine progress(&controller);
    prompts.beforeAlert = [&] { progress.stopShowing(); };
    const Log::ListenerId listener = settings.verbose ? echoLog(progress) : Log::ListenerId();
    QuitOnSignal quitOnSignal(&controller);
    follow(app, controller, progress, quitOnSignal, settings);

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
