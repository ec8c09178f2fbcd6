#pragma once

#include <QMainWindow>
#include <functional>

class AppDelegate;
class QLabel;
class QProgressBar;
class QPushButton;
class QNSHeaderSheetView;
class QNSOvalButton;
class ViewController;

// The main window: shows the controller's status text, progress value and main
// button title, sends the buttons' actions to it, and offers the licence and
// promotions through its menu. Closing it ends the application, but a running
// conversion is stopped and cleaned up first.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(ViewController *controller, AppDelegate *delegate, QWidget *parent = nullptr);

    // Asked before a running conversion is stopped for the window to close;
    // true stops it. The default asks with a message box.
    using StopQuestion = std::function<bool()>;
    void setStopQuestion(StopQuestion question) { m_stopQuestion = std::move(question); }

    QNSHeaderSheetView *header() const { return m_header; }
    QNSOvalButton *mainButton() const { return m_mainButton; }
    QNSOvalButton *sourceButton() const { return m_sourceButton; }
    QPushButton *promotionsButton() const { return m_promotionsButton; }
    QLabel *sourceLabel() const { return m_sourceLabel; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QLabel *versionLabel() const { return m_versionLabel; }
    QProgressBar *progressBar() const { return m_progressBar; }
    QAction *licenseAction() const { return m_licenseAction; }
    QAction *promotionsAction() const { return m_promotionsAction; }

signals:
    // The window has closed for good; the application ends here.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QWidget *buildHeaderContent();
    QWidget *buildBody();
    void buildMenus();
    void bindController();

    void showMainButtonTitle();
    void showProgressText();
    void showProgressValue();
    void showSource();
    void updateMainButtonEnabled();
    void showVersion();

    bool conversionActive() const;
    bool askToStop();
    void closeWhenStopped();

    ViewController *m_controller;
    AppDelegate *m_delegate;
    StopQuestion m_stopQuestion;
    bool m_closeWhenStopped = false;
    bool m_mayClose = false;

    QNSHeaderSheetView *m_header = nullptr;
    QNSOvalButton *m_mainButton = nullptr;
    QNSOvalButton *m_sourceButton = nullptr;
    QPushButton *m_promotionsButton = nullptr;
    QLabel *m_sourceLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QAction *m_licenseAction = nullptr;
    QAction *m_promotionsAction = nullptr;
};
