#include "QuitOnSignal.h"

#include "ViewController.h"

QuitOnSignal::QuitOnSignal(ViewController *controller, QObject *parent)
    : QObject(parent), m_controller(controller)
{
    connect(&m_signals, &TerminationSignals::received, this, &QuitOnSignal::received);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(kMaxWaitMs);
    connect(&m_deadline, &QTimer::timeout, this, [this] { emit quitRequested(m_signal); });
    connect(controller, &ViewController::conversionEnded, this, [this] {
        if (m_signal)
            emit quitRequested(m_signal);
    });
}

void QuitOnSignal::received(int signalNumber)
{
    m_signal = signalNumber;
    if (m_controller->isRunning())
        m_controller->convertButtonPressed();
    // Nothing to wait for once cleanup is through, even with its alert still up.
    if (!m_controller->isRunning() &&
        (!m_controller->isWindingDown() || m_controller->isCleanedUp())) {
        emit quitRequested(signalNumber);
        return;
    }
    emit stopping(signalNumber);
    if (!m_deadline.isActive())
        m_deadline.start();
}
