// isoswm-cli: converts one image from the terminal with the same controller as
// the window.

#include "Bundle.h"
#include "ConsolePrompts.h"
#include "Log.h"
#include "ViewController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char kHelp[] =
    "Usage: isoswm-cli [--force] [--verbose] SOURCE.iso DESTINATION.iso\n"
    "\n"
    "Makes DESTINATION.iso, a copy of the Windows installation image SOURCE.iso\n"
    "in which sources/install.wim is split into install.swm pieces of at most\n"
    "2048 MB, so that the installer fits on FAT32 media.\n"
    "\n"
    "  --force     replace DESTINATION.iso if it exists; the old file stays as it\n"
    "              was until the new image is complete\n"
    "  --verbose   show the diagnostic log on standard error\n"
    "  --help      show this text\n"
    "\n"
    "Progress shows as one updating line on a terminal and as plain lines\n"
    "otherwise; alerts and errors go to standard error. Ctrl-C cancels the\n"
    "conversion and waits until its temporary files are removed.\n"
    "\n"
    "Exit status: 0 when the new image was written, 1 when the conversion failed,\n"
    "2 for wrong usage, 130 when it was cancelled.\n"
    "\n"
    "For testing, ISOSWM_HDIUTIL, ISOSWM_DISKUTIL and ISOSWM_RESOURCES name other\n"
    "disk tools and another resources folder.\n";

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// Shows progress: one line redrawn in place on a terminal, a line per change
// otherwise.
class ProgressView {
public:
    explicit ProgressView(ViewController *controller)
        : m_controller(controller), m_terminal(::isatty(STDOUT_FILENO))
    {}

    void show()
    {
        if (m_quiet)
            return;
        const int value = int(m_controller->progressBarValue());
        const QString text = m_controller->progressText();
        if (m_terminal) {
            constexpr int width = 30;
            const int filled = value * width / 100;
            const QString bar =
                QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
            std::printf("\r[%s] %3d%%  %s\x1b[K", bar.toUtf8().constData(), value,
                        text.left(60).toUtf8().constData());
            m_lineOpen = true;
        } else {
            const QString line = QStringLiteral("%1% %2").arg(value).arg(text);
            if (line == m_lastLine)
                return;
            m_lastLine = line;
            std::printf("%s\n", line.toUtf8().constData());
        }
        std::fflush(stdout);
    }

    // Alerts come only as a conversion ends; the cleanup's reset of the
    // progress that follows them is not worth a line of its own.
    void stopShowing()
    {
        finishLine();
        m_quiet = true;
    }

    // Ends the redrawn line so that other output starts on a line of its own.
    void finishLine()
    {
        if (m_lineOpen) {
            std::printf("\n");
            std::fflush(stdout);
            m_lineOpen = false;
        }
    }

private:
    ViewController *m_controller;
    bool m_terminal;
    bool m_lineOpen = false;
    bool m_quiet = false;
    QString m_lastLine;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("isoswm-cli"));

    bool force = false;
    bool verbose = false;
    QStringList paths;
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (argument == QLatin1String("--force")) {
            force = true;
        } else if (argument == QLatin1String("--verbose")) {
            verbose = true;
        } else if (argument.startsWith(QLatin1String("-")) && argument.size() > 1) {
            std::fprintf(stderr, "isoswm-cli: unknown option %s\n%s", qPrintable(argument), kHelp);
            return 2;
        } else {
            paths << argument;
        }
    }
    if (paths.size() != 2) {
        std::fputs(kHelp, stderr);
        return 2;
    }
    const QString source = QFileInfo(paths[0]).absoluteFilePath();
    const QString destination = QFileInfo(paths[1]).absoluteFilePath();
    if (!QFileInfo(source).isFile()) {
        std::fprintf(stderr, "isoswm-cli: %s is not a file\n", qPrintable(paths[0]));
        return 2;
    }
    if (source == destination) {
        std::fprintf(stderr, "isoswm-cli: the destination must differ from the source\n");
        return 2;
    }
    if (!QFileInfo(QFileInfo(destination).absolutePath()).isDir()) {
        std::fprintf(stderr, "isoswm-cli: the folder of %s does not exist\n", qPrintable(paths[1]));
        return 2;
    }
    if (QFileInfo::exists(destination) && !force) {
        std::fprintf(stderr, "isoswm-cli: %s already exists; use --force to replace it\n",
                     qPrintable(paths[1]));
        return 2;
    }

    Log::setEchoToStderr(verbose);
    if (const QString resources = qEnvironmentVariable("ISOSWM_RESOURCES"); !resources.isEmpty())
        Bundle::setResourcesPath(resources);

    ConsolePrompts prompts(source, destination, force);
    ViewController controller(&prompts);
    ViewController::Tools tools = controller.tools();
    if (const QString t = qEnvironmentVariable("ISOSWM_HDIUTIL"); !t.isEmpty())
        tools.hdiutil = t;
    if (const QString t = qEnvironmentVariable("ISOSWM_DISKUTIL"); !t.isEmpty())
        tools.diskutil = t;
    controller.setTools(tools);

    ProgressView progress(&controller);
    prompts.beforeAlert = [&] { progress.stopShowing(); };
    QObject::connect(&controller, &ViewController::progressTextChanged, [&] { progress.show(); });
    QObject::connect(&controller, &ViewController::progressBarValueChanged,
                     [&] { progress.show(); });

    // Ctrl-C and termination cancel; the program ends only once cleanup is done.
    bool cancelled = false;
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return 1;
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&] {
        char byte;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        if (controller.isRunning()) {
            cancelled = true;
            controller.convertButtonPressed();
        } else if (controller.isWindingDown()) {
            cancelled = true;
            progress.finishLine();
            std::fprintf(stderr, "isoswm-cli: still cleaning up, please wait\n");
        } else {
            app.exit(130);
        }
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);

    QObject::connect(&controller, &ViewController::conversionEnded, [&](bool succeeded) {
        progress.finishLine();
        if (succeeded)
            std::printf("Created %s\n", qPrintable(destination));
        else if (cancelled)
            std::fprintf(stderr, "Cancelled; nothing was written.\n");
        std::fflush(stdout);
        app.exit(succeeded ? 0 : cancelled ? 130 : 1);
    });

    controller.viewDidLoad();
    QObject::connect(
        &controller, &ViewController::isoPathChanged, &app,
        [&] {
            controller.convertButtonPressed();
            // A start that did not get under way (the destination was refused).
            if (!controller.isWindingDown())
                app.exit(1);
        },
        Qt::QueuedConnection);
    controller.selectWindowsISOButtonPressed();
    return app.exec();
}
