#include "QNSPromoManager.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

QNSPromoManager::QNSPromoManager(QObject *parent) : QObject(parent) {}

QNSPromoManager *QNSPromoManager::sharedPromoManager()
{
    // Owned by the application object, so it goes away with it.
    static QPointer<QNSPromoManager> shared;
    if (!shared)
        shared = new QNSPromoManager(qApp);
    return shared;
}

void QNSPromoManager::showPromoWindow(QObject *requester)
{
    if (!m_window)
        m_window = createWindow();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    emit promoWindowShown(requester);
}

QWidget *QNSPromoManager::createWindow()
{
    // A window of its own that is freed when closed; the application object
    // may not outlive a widget it would otherwise have to delete.
    auto *window = new QWidget(nullptr, Qt::Dialog);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setObjectName(QStringLiteral("promoWindow"));
    window->setWindowTitle(tr("More Tools"));
    connect(qApp, &QCoreApplication::aboutToQuit, window, &QWidget::close);

    auto *heading = new QLabel(tr("<b>More from the makers of %1</b>")
                                   .arg(QCoreApplication::applicationName().toHtmlEscaped()));
    auto *body = new QLabel(tr("Other tools from the %1 developers will be listed here as they "
                               "become available.<br><br>Thank you for using %1.")
                                .arg(QCoreApplication::applicationName().toHtmlEscaped()));
    body->setWordWrap(true);
    body->setTextFormat(Qt::RichText);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, window, &QWidget::close);
    connect(new QShortcut(QKeySequence::Cancel, window), &QShortcut::activated, window,
            &QWidget::close);

    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(20, 18, 20, 14);
    layout->setSpacing(10);
    layout->addWidget(heading);
    layout->addWidget(body);
    layout->addStretch();
    layout->addWidget(buttons);
    window->resize(380, 190);
    return window;
}
