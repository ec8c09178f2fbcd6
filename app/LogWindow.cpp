#include "LogWindow.h"

#include "ToolProgress.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QShortcut>
#include <QTime>
#include <QVBoxLayout>

namespace {
// A long copy logs a line per item; the oldest lines go beyond this.
constexpr int kMaximumLines = 50000;

// What a tool printed, without the "output:" or "error: " it is logged under.
QString toolText(const QString &line)
{
    for (const QLatin1String prefix : {QLatin1String("output:"), QLatin1String("error: ")}) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return line;
}

// The lines worth reading of a logged text, each stamped with the time it was
// written. A tool's output comes as it was read, several lines at once and
// blank ones among them; its progress reports are left out, the bar and the
// detail line under it show them.
QStringList entries(const QString &logged, const QTime &at)
{
    static const QRegularExpression breaks(QStringLiteral("[\r\n]"));
    const QString stamp = at.toString(QStringLiteral("HH:mm:ss "));
    QStringList entries;
    for (const QString &line : logged.split(breaks)) {
        const QString text = toolText(line);
        if (!text.trimmed().isEmpty() && !ToolProgress::genisoimage(text) &&
            !ToolProgress::wimsplit(text))
            entries << stamp + line;
    }
    return entries;
}
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
        if (const QStringList lines = entries(line, QTime::currentTime()); !lines.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, lines] { appendLines(lines); }, Qt::QueuedConnection);
    });
}

LogWindow::~LogWindow()
{
    Log::removeListener(m_listener);
}

void LogWindow::appendLines(const QStringList &lines)
{
    // Follow new lines only when the reader is already at the end.
    QScrollBar *bar = m_textView->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    m_textView->appendPlainText(lines.join(QLatin1Char('\n')));
    if (atEnd)
        bar->setValue(bar->maximum());
}

void LogWindow::copyAll()
{
    QGuiApplication::clipboard()->setText(m_textView->toPlainText());
}
