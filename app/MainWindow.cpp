#include "MainWindow.h"

#include "AppDelegate.h"
#include "Appearance.h"
#include "DrivePicker.h"
#include "LogWindow.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "ViewController.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const QString kPositionKey = QStringLiteral("window/position");
const QString kSizeKey = QStringLiteral("window/size");
const QString kMaximizedKey = QStringLiteral("window/maximized");

// The first dragged file when it is an ISO image; empty otherwise.
QString droppedImage(const QMimeData *mime)
{
    const QStringList paths = QNSHeaderSheetView::filePaths(mime);
    if (paths.isEmpty() ||
        QFileInfo(paths.first()).suffix().compare(QLatin1String("iso"), Qt::CaseInsensitive) != 0)
        return {};
    return paths.first();
}
} // namespace

MainWindow::MainWindow(ViewController *controller, AppDelegate *delegate, QWidget *parent)
    : QMainWindow(parent), m_controller(controller), m_delegate(delegate)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QCoreApplication::applicationName());
    setWindowIcon(Appearance::appIcon());
    // The band view takes ".volpack" drags; an ISO it refuses comes on to the window.
    setAcceptDrops(true);
    m_logWindow = new LogWindow(this);

    // The band view is the whole content; the title sits on its band and the
    // controls below it.
    m_header = new QNSHeaderSheetView(this);
    m_header->setObjectName(QStringLiteral("header"));
    auto *layout = new QVBoxLayout(m_header);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(buildHeaderContent());
    layout->addWidget(buildBody(), 1);
    setCentralWidget(m_header);
    buildMenus();
    describeForAccessibility();
    // Return presses the main button (unless it is disabled) wherever the focus
    // is; Space presses the focused one.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        connect(new QShortcut(QKeySequence(key), this), &QShortcut::activated, m_mainButton,
                &QAbstractButton::click);

    bindController();
    m_controller->viewDidLoad();

    setMinimumSize(520, 300);
    restoreWindowGeometry();
}

// Kept as a place and a size rather than with saveGeometry(): restoring that
// shrinks a window as big as the screen by its title bar and 2 pixels (so that
// it does not read as full screen), again at each start. A maximized window
// keeps the place and size it had before, to go back to.
void MainWindow::saveWindowGeometry() const
{
    QSettings settings;
    settings.setValue(kMaximizedKey, isMaximized());
    if (isMaximized())
        return;
    settings.setValue(kPositionKey, pos());
    settings.setValue(kSizeKey, size());
}

// The place and size as they were, when that place is still on a screen; no
// bigger than that screen.
void MainWindow::restoreWindowGeometry()
{
    const QSettings settings;
    const QPoint position = settings.value(kPositionKey).toPoint();
    const QSize size = settings.value(kSizeKey).toSize();
    QScreen *screen = QGuiApplication::screenAt(QRect(position, size).center());
    if (size.isValid() && screen) {
        resize(size.boundedTo(screen->availableGeometry().size()));
        move(position);
    } else {
        resize(560, 310);
    }
    if (settings.value(kMaximizedKey).toBool())
        setWindowState(windowState() | Qt::WindowMaximized);
}

bool MainWindow::openSource(const QString &pathOrUrl)
{
    const QUrl url(pathOrUrl);
    const QFileInfo file(url.isLocalFile() ? url.toLocalFile() : pathOrUrl);
    if (conversionActive() || !file.isFile())
        return false;
    m_controller->setIsoPath(file.absoluteFilePath());
    return true;
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (conversionActive() || droppedImage(event->mimeData()).isEmpty())
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    if (!openSource(droppedImage(event->mimeData())))
        return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

// Before a drive is erased, the user says so with its name in front of them.
void MainWindow::mainButtonPressed()
{
    if (!conversionActive()) {
        const std::optional<DriveFacts> drive = m_drivePicker->chosenDrive();
        if (m_drivePicker->toDrive() && (!drive || m_controller->isoPath().isEmpty() ||
                                         !askToErase(DrivePicker::describe(*drive))))
            return;
        RunOptions options = m_controller->options();
        options.drive = m_drivePicker->toDrive() ? drive : std::nullopt;
        m_controller->setOptions(options);
    }
    m_controller->convertButtonPressed();
}

bool MainWindow::askToErase(const QString &drive)
{
    if (m_eraseQuestion)
        return m_eraseQuestion(drive);
    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(windowTitle());
    box.setText(tr("Erase %1?").arg(drive));
    box.setInformativeText(tr("Everything on it will be erased. It becomes a Windows installer "
                              "that computers start from with UEFI."));
    QPushButton *erase = box.addButton(tr("Erase"), QMessageBox::DestructiveRole);
    QPushButton *keep = box.addButton(tr("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.exec();
    return box.clickedButton() == erase;
}

void MainWindow::showVersion()
{
    m_versionLabel->setText(m_delegate->versionInfo());
}

bool MainWindow::conversionActive() const
{
    return m_controller->isRunning() || m_controller->isWindingDown();
}

bool MainWindow::askToStop()
{
    if (m_stopQuestion)
        return m_stopQuestion();
    QMessageBox box(this);
    box.setIcon(QMessageBox::Question);
    box.setWindowTitle(windowTitle());
    box.setText(tr("A conversion is in progress. Stop it and quit?"));
    box.setInformativeText(tr("The ISO being written will not be finished, and its temporary "
                              "files will be removed before %1 quits.")
                               .arg(QCoreApplication::applicationName()));
    QPushButton *stop = box.addButton(tr("Stop and Quit"), QMessageBox::DestructiveRole);
    QPushButton *keep = box.addButton(tr("Continue"), QMessageBox::RejectRole);
    box.setDefaultButton(keep);
    box.exec();
    return box.clickedButton() == stop;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_mayClose || !conversionActive()) {
        QMainWindow::closeEvent(event);
        if (event->isAccepted()) {
            saveWindowGeometry();
            emit closed();
        }
        return;
    }
    // Quitting in the middle would leave a mounted image and a half-filled
    // temporary folder behind: stop first, close once cleanup is through.
    event->ignore();
    if (m_closeWhenStopped)
        return;
    if (!askToStop())
        return;
    m_closeWhenStopped = true;
    if (m_controller->isRunning())
        m_controller->convertButtonPressed();
    closeWhenStopped();
}

void MainWindow::closeWhenStopped()
{
    if (!m_closeWhenStopped || conversionActive())
        return;
    m_closeWhenStopped = false;
    m_mayClose = true;
    close();
}
