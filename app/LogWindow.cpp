#include "LogWindow.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

namespace {
// A long copy logs a line per item; the oldest lines go beyond this.
constexpr int kMaximumLines = 50000;
} // namespace

LogWindow::LogWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("logWindow"));
    setWindowTitle(tr("Log"));

    m_textView = new QPlainTextEdit(this);
    m_textView->setObjectName(QStringLiteral("logTextView"));
    m_textView->setReadOnly(true);
    m_textView->setMaximumBlockCount(kMaximumLines);
    m_textView->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_textView->setAccessibleName(tr("Log"));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton *copy = buttons->addButton(tr("Copy All"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("copyAllButton"));
    connect(copy, &QPushButton::clicked, this, &LogWindow::copyAll);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 10);
    layout->addWidget(m_textView);
    layout->addWidget(buttons);
    resize(720, 420);

    // Called on the writing thread: the line is handed to this window's thread.
    // Removing the listener in the destructor waits for a call in progress, and
    // Qt drops posted calls to a deleted object, so none reaches a dead window.
    m_listener = Log::addListener([this](const QString &line) {
        QMetaObject::invokeMethod(
            this, [this, line] { appendLine(line); }, Qt::QueuedConnection);
    });
}

LogWindow::~LogWindow()
{
    Log::removeListener(m_listener);
}

void LogWindow::appendLine(const QString &line)
{
    // Follow new lines only when the reader is already at the end.
    QScrollBar *bar = m_textView->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_textView->appendPlainText(line);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void LogWindow::copyAll()
{
    QGuiApplication::clipboard()->setText(m_textView->toPlainText());
}
