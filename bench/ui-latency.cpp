// Drives a real conversion in the main window (offscreen platform) and
// measures how long the main thread is ever kept from its event loop.
//
//   isoswm-ui-latency SOURCE.iso DESTINATION.iso

#include "AppDelegate.h"
#include "Log.h"
#include "MainWindow.h"
#include "Prompts.h"
#include "ViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

namespace {

// Answers the panels at once and prints the alerts, so no dialog is in the way.
class AnsweringPrompts : public Prompts {
public:
    explicit AnsweringPrompts(QString destination) : m_destination(std::move(destination)) {}
    void beginOpenPanel(const OpenPanel &, std::function<void(std::optional<QString>)>) override {}
    std::optional<QString> runSavePanel(const SavePanel &) override { return m_destination; }
    void runAlert(const QString &message, const QString &, const QString &) override
    {
        std::printf("alert: %s\n", qPrintable(message));
    }
    void runErrorAlert(const Error &error) override
    {
        std::printf("error: %s %s\n", qPrintable(error.message), qPrintable(error.details));
    }

private:
    QString m_destination;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Log::setEchoToStderr(false);
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: isoswm-ui-latency SOURCE.iso DESTINATION.iso\n");
        return 2;
    }
    AnsweringPrompts prompts(QString::fromLocal8Bit(argv[2]));
    ViewController controller(&prompts);
    AppDelegate delegate;
    MainWindow window(&controller, &delegate);
    window.show();

    // A timer that should fire every 5 ms; the longest gap between two of its
    // shots is the longest time the main thread was busy.
    QElapsedTimer clock;
    qint64 last = 0, longest = 0, ticks = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        longest = std::max(longest, now - last);
        last = now;
        ++ticks;
    });
    QObject::connect(&controller, &ViewController::conversionEnded, &app, [&](bool ok) {
        std::printf("conversion %s in %.1f s, %lld timer ticks\n", ok ? "finished" : "failed",
                    clock.elapsed() / 1000.0, ticks);
        std::printf("longest main-thread stall: %lld ms\n", longest);
        app.exit(ok ? 0 : 1);
    });
    QTimer::singleShot(0, &app, [&] {
        controller.setIsoPath(QString::fromLocal8Bit(argv[1]));
        clock.start();
        tick.start(5);
        controller.convertButtonPressed();
    });
    return app.exec();
}
