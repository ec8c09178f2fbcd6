#include "LicenseWindow.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QShortcut>
#include <QTextEdit>
#include <QVBoxLayout>

LicenseWindow::LicenseWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("licenseWindow"));
    setWindowTitle(tr("Licence"));

    m_textView = new QTextEdit(this);
    m_textView->setObjectName(QStringLiteral("licenseTextView"));
    m_textView->setReadOnly(true);
    m_textView->setAcceptRichText(false);
    m_textView->setLineWrapMode(QTextEdit::WidgetWidth);
    // The GPL is laid out for a fixed-width face.
    m_textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this,
            &QWidget::close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 10);
    layout->addWidget(m_textView);
    layout->addWidget(buttons);
    resize(640, 560);
}
