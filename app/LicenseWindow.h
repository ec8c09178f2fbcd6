#pragma once

#include <QWidget>

class QTextEdit;

// A plain window with a read-only text view for the licence terms; the
// delegate fills it on request.
class LicenseWindow : public QWidget {
    Q_OBJECT
public:
    explicit LicenseWindow(QWidget *parent = nullptr);
    QTextEdit *textView() const { return m_textView; }

private:
    QTextEdit *m_textView;
};
