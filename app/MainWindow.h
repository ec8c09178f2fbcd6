#pragma once

#include "RunOptions.h"

#include <QMainWindow>
#include <functional>

class AppDelegate;
class DrivePicker;
class UDisksDrives;
class LogWindow;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QNSHeaderSheetView;
class QNSOvalButton;
class ViewController;

// The main window: shows the controller's status text, progress value and main
// button title, sends the buttons' actions to it, and offers the licence, the
// log and the promotions through its menu. An .iso file dropped on it or named
// on the command line becomes the source. Closing it ends the application, but
// a running conversion is stopped and cleaned up first. Its size and place are
// kept for the next start.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(ViewController *controller, AppDelegate *delegate, QWidget *parent = nullptr);

    // Asked before a running conversion is stopped for the window to close;
    // true stops it. The default asks with a message box.
    using StopQuestion = std::function<bool()>;
    void setStopQuestion(StopQuestion question) { m_stopQuestion = std::move(question); }
    // Asked before a USB drive is erased; true erases it. The default asks
    // with a message box.
    using EraseQuestion = std::function<bool(const QString &drive)>;
    void setEraseQuestion(EraseQuestion question) { m_eraseQuestion = std::move(question); }

    // Makes `pathOrUrl` (a path, relative or not, or a file: URL) the source, as
    // the open panel would. Refused while a conversion runs, or when it names no
    // file.
    bool openSource(const QString &pathOrUrl);

    QNSHeaderSheetView *header() const { return m_header; }
    QNSOvalButton *mainButton() const { return m_mainButton; }
    QNSOvalButton *sourceButton() const { return m_sourceButton; }
    QPushButton *promotionsButton() const { return m_promotionsButton; }
    QLabel *sourceLabel() const { return m_sourceLabel; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QLabel *detailLabel() const { return m_detailLabel; }
    QLabel *versionLabel() const { return m_versionLabel; }
    QProgressBar *progressBar() const { return m_progressBar; }
    QAction *licenseAction() const { return m_licenseAction; }
    QAction *logAction() const { return m_logAction; }
    QAction *promotionsAction() const { return m_promotionsAction; }
    QAction *directAction() const { return m_directAction; }
    QAction *bootableAction() const { return m_bootableAction; }
    LogWindow *logWindow() const { return m_logWindow; }
    DrivePicker *drivePicker() const { return m_drivePicker; }

signals:
    // The window has closed for good; the application ends here.
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    // Building the window's parts (MainWindowLayout.cpp).
    QWidget *buildHeaderContent();
    QLayout *buildSourceRow();
    QLayout *buildProgressArea();
    QLayout *buildFooter();
    QWidget *buildBody();
    void buildMenus();
    void buildOptionsMenu(QMenu *file);
    QAction *addOption(QMenu *menu, const QString &text, const QString &key,
                       bool RunOptions::*option);
    void describeForAccessibility();

    void bindController();
    void showMainButtonTitle();
    void showProgressText();
    void showProgressValue();
    void showDetail();
    void showOutcome();
    void showSource();
    void updateMainButtonEnabled();
    void showVersion();

    bool conversionActive() const;
    void mainButtonPressed();
    bool askToErase(const QString &drive);
    bool askToStop();
    void closeWhenStopped();
    void saveWindowGeometry() const;
    void restoreWindowGeometry();

    ViewController *m_controller;
    AppDelegate *m_delegate;
    StopQuestion m_stopQuestion;
    EraseQuestion m_eraseQuestion;
    bool m_closeWhenStopped = false;
    bool m_mayClose = false;

    QNSHeaderSheetView *m_header = nullptr;
    QNSOvalButton *m_mainButton = nullptr;
    QNSOvalButton *m_sourceButton = nullptr;
    QPushButton *m_promotionsButton = nullptr;
    QLabel *m_sourceLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_detailLabel = nullptr;
    QLabel *m_versionLabel = nullptr;
    QProgressBar *m_progressBar = nullptr;
    QAction *m_licenseAction = nullptr;
    QAction *m_logAction = nullptr;
    QAction *m_promotionsAction = nullptr;
    QAction *m_directAction = nullptr;
    QAction *m_bootableAction = nullptr;
    LogWindow *m_logWindow = nullptr;
    UDisksDrives *m_drives = nullptr;
    DrivePicker *m_drivePicker = nullptr;
};
