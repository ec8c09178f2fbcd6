#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Shows the window about other tools from the same makers. One manager per
// application; whoever asks names itself as the requester, which the
// promoWindowShown notice passes on.
class QNSPromoManager : public QObject {
    Q_OBJECT
public:
    static QNSPromoManager *sharedPromoManager();

    // Shows the promotions window (a new one, or the open one raised) and
    // returns at once.
    void showPromoWindow(QObject *requester);

    QWidget *promoWindow() const { return m_window; }

signals:
    void promoWindowShown(QObject *requester);

private:
    explicit QNSPromoManager(QObject *parent);
    QWidget *createWindow();

    QPointer<QWidget> m_window;
};
