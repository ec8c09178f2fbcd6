#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTextEdit>
#include <QWidget>

// The application's own side outside the conversion: the version text, the
// licence window and the promotions window.
class AppDelegate : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString versionInfo READ versionInfo NOTIFY versionInfoChanged)

public:
    explicit AppDelegate(QObject *parent = nullptr);

    // The licence window and its text view. Both belong to whoever made them;
    // the delegate only points at them, and copes with either being gone.
    QTextEdit *licenseTextView() const { return m_licenseTextView; }
    void setLicenseTextView(QTextEdit *view) { m_licenseTextView = view; }
    QWidget *licenseWindow() const { return m_licenseWindow; }
    void setLicenseWindow(QWidget *window) { m_licenseWindow = window; }

    QString versionInfo() const { return m_versionInfo; }

    // "Version <short version> (<build>)" from Info.plist.
    static QString composeVersionInfo();

    void applicationDidFinishLaunching();
    // Reads the licence text afresh, puts it into the text view and brings the
    // licence window to the front.
    void showLicenseWindow();
    // Asks the promotions manager for its window on the delegate's behalf.
    void showPromotions();
    void applicationWillTerminate() {}

signals:
    void versionInfoChanged();

private:
    QPointer<QTextEdit> m_licenseTextView;
    QPointer<QWidget> m_licenseWindow;
    QString m_versionInfo;
};
