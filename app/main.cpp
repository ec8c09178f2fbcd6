#include "AppDelegate.h"
#include "Appearance.h"
#include "Bundle.h"
#include "DesktopNotifier.h"
#include "LicenseWindow.h"
#include "MainWindow.h"
#include "QuitOnSignal.h"
#include "SleepInhibitor.h"
#include "Translations.h"
#include "ViewController.h"
#include "WidgetPrompts.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

namespace {

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("isoswm"));
    QCoreApplication::setOrganizationName(QStringLiteral("isoswm"));
    QCoreApplication::setApplicationVersion(
        Bundle::infoValue(QStringLiteral("CFBundleShortVersionString")).value_or(QString()));
}

void describeOptions(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QCoreApplication::translate(
        "main",
        "Makes a copy of a Windows installation image (ISO) in which sources/install.wim is "
        "split into pieces of at most 2048 MB, so that the installer fits on FAT32 media."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("image"),
        QCoreApplication::translate("main", "The Windows ISO image to open as the source."),
        QStringLiteral("[FILE.iso]"));
}

// --help and --version need no display, so they are answered before the
// window's application object exists. Qt's own options (-platform, -style...)
// are left for that object to take.
void answerHelpAndVersion(int argc, char *argv[])
{
    QCoreApplication probe(argc, argv);
    nameApplication();
    Translations::install(probe);
    QCommandLineParser parser;
    describeOptions(parser);
    parser.parse(probe.arguments());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
}

// The source named on the command line; unknown options end the program.
QString sourceArgument(const QApplication &app)
{
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app);
    return parser.positionalArguments().value(0);
}

} // namespace

int main(int argc, char *argv[])
{
    answerHelpAndVersion(argc, argv);
    QApplication app(argc, argv);
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.isoswm.isoswm"));
    Translations::install(app);
    const QString source = sourceArgument(app);
    // The main window decides when the application ends (after a running
    // conversion has been stopped), not the last window to close.
    QApplication::setQuitOnLastWindowClosed(false);
    Appearance::apply(app);

    AppDelegate delegate;
    WidgetPrompts prompts;
    ViewController controller(&prompts);
    LicenseWindow licenseWindow;
    MainWindow window(&controller, &delegate);
    prompts.setParentWidget(&window);
    delegate.setLicenseWindow(&licenseWindow);
    delegate.setLicenseTextView(licenseWindow.textView());
    SleepInhibitor sleepInhibitor(&controller, QDBusConnection::systemBus());
    DesktopNotifier notifier(&controller, QDBusConnection::sessionBus());
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    // A logout or a kill stops a running conversion and quits once it is cleaned up.
    QuitOnSignal quitOnSignal(&controller);
    QObject::connect(&quitOnSignal, &QuitOnSignal::quitRequested, &app,
                     [] { QCoreApplication::exit(0); });

    window.show();
    delegate.applicationDidFinishLaunching();
    if (!source.isEmpty() && !window.openSource(source))
        std::fprintf(
            stderr, "%s\n",
            qPrintable(
                QCoreApplication::translate("main", "isoswm: %1 is not a file").arg(source)));

    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
