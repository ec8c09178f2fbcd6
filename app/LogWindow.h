#pragma once

#include "Log.h"

#include <QWidget>

class QPlainTextEdit;

// "View Log": every line this run has logged since the window was made, each
// with the time it was written (HH:mm:ss), in a read-only text that can be
// selected and copied. The tools' progress reports and blank lines are left
// out. Lines keep coming while it is open, from whichever thread wrote them.
class LogWindow : public QWidget {
    Q_OBJECT
public:
    explicit LogWindow(QWidget *parent = nullptr);
    ~LogWindow() override;

    QPlainTextEdit *textView() const { return m_textView; }

private:
    void appendLines(const QStringList &lines);
    void copyAll();

    QPlainTextEdit *m_textView;
    Log::ListenerId m_listener;
};
