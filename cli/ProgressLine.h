#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class ViewController;

// Shows a conversion's progress on standard output: one line redrawn in place
// on a terminal (stage, bar, percent, bytes, rate, time left), plain lines at
// most once a second otherwise.
class ProgressLine : public QObject {
    Q_OBJECT
public:
    explicit ProgressLine(ViewController *controller, QObject *parent = nullptr);

    // Alerts come only as a conversion ends; the cleanup's reset of the
    // progress that follows them is not worth a line of its own.
    void stopShowing();
    // Prints `text` on a line of its own (to stderr for errors) above the
    // progress line, which is then drawn again.
    void printAbove(const QString &text, bool toStderr);
    // Ends the redrawn line so that other output starts on a line of its own.
    void finishLine();

private:
    void changed();
    void draw();
    QString compose(int width) const;

    ViewController *m_controller;
    bool m_terminal;
    bool m_lineOpen = false;
    bool m_quiet = false;
    QString m_lastLine;
    QElapsedTimer m_sincePlainLine;
    QTimer m_pending; // a plain line held back to keep to one a second
};
