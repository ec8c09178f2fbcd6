#pragma once

#include "TerminationSignals.h"

#include <QObject>
#include <QTimer>

class ViewController;

// What both front ends do on SIGINT, SIGTERM or SIGHUP (Ctrl-C, kill, a
// logout): a conversion in progress is cancelled, and the program is told to
// quit once its cleanup is done, or after a while whatever state it is in.
// Quitting must not ask the windows first (they would ask about the conversion
// being stopped): QCoreApplication::exit, not quit.
// Without a conversion it is told to quit at once.
class QuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit QuitOnSignal(ViewController *controller, QObject *parent = nullptr);

    // Long enough to remove a full staging copy and detach the image.
    static constexpr int kMaxWaitMs = 60 * 1000;

signals:
    // A conversion is being stopped because of the signal.
    void stopping(int signalNumber);
    void quitRequested(int signalNumber);

private:
    void received(int signalNumber);

    ViewController *m_controller;
    TerminationSignals m_signals;
    QTimer m_deadline;
    int m_signal = 0;
};
