#include "AppDelegate.h"
#include "Appearance.h"
#include "Bundle.h"
#include "LicenseWindow.h"
#include "MainWindow.h"
#include "ViewController.h"
#include "WidgetPrompts.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("isoswm"));
    QApplication::setApplicationVersion(
        Bundle::infoValue(QStringLiteral("CFBundleShortVersionString")).value_or(QString()));
    QGuiApplication::setDesktopFileName(QStringLiteral("isoswm"));
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
    QObject::connect(&window, &MainWindow::closed, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    window.show();
    delegate.applicationDidFinishLaunching();

    const int status = app.exec();
    delegate.applicationWillTerminate();
    return status;
}
