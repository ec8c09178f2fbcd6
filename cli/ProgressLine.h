#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class ViewController;

// Shows a conversion's progress on standard output. On a terminal: one line
// redrawn in place, the stage first, then the percent, a bar and the stage's
// figures, fitted to the terminal's width (the figures give way, the stage
// never). Otherwise: one plain line each time the stage changes.
class ProgressLine : public QObject {
    Q_OBJECT
public:
    explicit ProgressLine(ViewController *controller, QObject *parent = nullptr);
    ~ProgressLine() override;

    // Alerts come only as a conversion ends: the line is closed (a "Done" line
    // once the new image is written) and the cleanup that follows is not shown.
    void stopShowing();
    // Prints `text` on a line of its own (to stderr for errors) above the
    // progress line, which is then drawn again.
    void printAbove(const QString &text, bool toStderr);
    // The run is over: a line still open (a cancel's cleanup) is cleared, so
    // that the outcome stands alone below what was said.
    void finish();

private:
    void changed();
    void draw(const QString &line);
    void endLine();
    QString stageName() const;
    int percent() const;
    QString compose(int width) const;
    bool imageWritten() const;

    ViewController *m_controller;
    bool m_terminal;
    bool m_lineOpen = false;
    bool m_quiet = false;
    bool m_stopped = false; // a cancel or a failure: no "Done" at the end
    int m_width = 0;
    QString m_lastStage; // of the last plain line
    QSocketNotifier *m_resized = nullptr;
};
