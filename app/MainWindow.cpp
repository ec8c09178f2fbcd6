#include "MainWindow.h"

#include "AppDelegate.h"
#include "Appearance.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "QNSPromoManager.h"
#include "ViewController.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

MainWindow::MainWindow(ViewController *controller, AppDelegate *delegate, QWidget *parent)
    : QMainWindow(parent), m_controller(controller), m_delegate(delegate)
{
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QCoreApplication::applicationName());
    setWindowIcon(Appearance::appIcon());

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

    bindController();
    m_controller->viewDidLoad();

    setMinimumSize(520, 300);
    resize(560, 310);
}

QWidget *MainWindow::buildHeaderContent()
{
    auto *content = new QWidget;
    content->setFixedHeight(QNSHeaderSheetView::kBandHeight);

    QPalette onBand = content->palette();
    onBand.setColor(QPalette::WindowText, Qt::white);

    auto *icon = new QLabel;
    icon->setPixmap(Appearance::appIcon().pixmap(44, 44));
    icon->setFixedSize(44, 44);

    auto *title = new QLabel(QCoreApplication::applicationName());
    title->setObjectName(QStringLiteral("titleLabel"));
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.6);
    titleFont.setBold(true);
    title->setFont(titleFont);
    title->setPalette(onBand);

    auto *subtitle = new QLabel(tr("Splits install.wim so a Windows ISO fits on FAT32 media"));
    subtitle->setPalette(onBand);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addStretch();
    texts->addWidget(title);
    texts->addWidget(subtitle);
    texts->addStretch();

    auto *row = new QHBoxLayout(content);
    row->setContentsMargins(20, 0, 20, 0);
    row->setSpacing(14);
    row->addWidget(icon);
    row->addLayout(texts, 1);
    return content;
}

QWidget *MainWindow::buildBody()
{
    auto *body = new QWidget;

    m_sourceButton = new QNSOvalButton(tr("Select Windows ISO..."));
    m_sourceButton->setObjectName(QStringLiteral("sourceButton"));
    m_sourceButton->setFillColor(Appearance::secondaryButtonColor());
    connect(m_sourceButton, &QPushButton::clicked, m_controller,
            [this] { m_controller->selectWindowsISOButtonPressed(); });

    m_sourceLabel = new QLabel;
    m_sourceLabel->setObjectName(QStringLiteral("sourceLabel"));
    m_sourceLabel->setTextFormat(Qt::PlainText);
    m_sourceLabel->setMinimumWidth(120);
    m_sourceLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *sourceRow = new QHBoxLayout;
    sourceRow->setSpacing(14);
    sourceRow->addWidget(m_sourceButton);
    sourceRow->addWidget(m_sourceLabel, 1);

    m_progressBar = new QProgressBar;
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(12);

    m_statusLabel = new QLabel;
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    // One line whatever the item name; a long one is cut, not wrapped.
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_statusLabel->setMinimumHeight(m_statusLabel->fontMetrics().height());

    m_mainButton = new QNSOvalButton;
    m_mainButton->setObjectName(QStringLiteral("mainButton"));
    m_mainButton->setMinimumWidth(120);
    m_mainButton->setDefault(true);
    connect(m_mainButton, &QPushButton::clicked, m_controller,
            [this] { m_controller->convertButtonPressed(); });

    m_versionLabel = new QLabel;
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setPalette(Appearance::secondaryTextPalette(m_versionLabel->palette()));

    m_promotionsButton = new QPushButton(tr("More Tools"));
    m_promotionsButton->setObjectName(QStringLiteral("promotionsButton"));
    m_promotionsButton->setFlat(true);
    m_promotionsButton->setCursor(Qt::PointingHandCursor);
    // Reads as a link beside the version text rather than as a second button.
    QPalette linkPalette = m_promotionsButton->palette();
    linkPalette.setColor(QPalette::ButtonText, linkPalette.color(QPalette::Link));
    m_promotionsButton->setPalette(linkPalette);
    connect(m_promotionsButton, &QPushButton::clicked, m_controller,
            [this] { m_controller->showPromotions(); });

    auto *footer = new QHBoxLayout;
    footer->setSpacing(10);
    footer->addWidget(m_versionLabel);
    footer->addWidget(m_promotionsButton);
    footer->addStretch();
    footer->addWidget(m_mainButton);

    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(24, 22, 24, 18);
    column->setSpacing(0);
    column->addLayout(sourceRow);
    column->addSpacing(24);
    column->addWidget(m_progressBar);
    column->addSpacing(8);
    column->addWidget(m_statusLabel);
    column->addStretch(1);
    column->addLayout(footer);
    return body;
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = file->addAction(tr("&Select Windows ISO..."));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, m_controller,
            [this] { m_controller->selectWindowsISOButtonPressed(); });
    file->addSeparator();
    QAction *quit = file->addAction(tr("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, &QWidget::close);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    m_licenseAction = help->addAction(tr("&Licence"));
    m_licenseAction->setObjectName(QStringLiteral("licenseAction"));
    connect(m_licenseAction, &QAction::triggered, m_delegate,
            [this] { m_delegate->showLicenseWindow(); });
    m_promotionsAction = help->addAction(tr("&More Tools..."));
    m_promotionsAction->setObjectName(QStringLiteral("promotionsAction"));
    connect(m_promotionsAction, &QAction::triggered, m_delegate,
            [this] { m_delegate->showPromotions(); });
}

void MainWindow::bindController()
{
    connect(m_controller, &ViewController::mainButtonTitleChanged, this,
            &MainWindow::showMainButtonTitle);
    connect(m_controller, &ViewController::progressTextChanged, this,
            &MainWindow::showProgressText);
    connect(m_controller, &ViewController::progressBarValueChanged, this,
            &MainWindow::showProgressValue);
    connect(m_controller, &ViewController::isoPathChanged, this, &MainWindow::showSource);
    connect(m_controller, &ViewController::isRunningChanged, this,
            &MainWindow::updateMainButtonEnabled);
    connect(m_controller, &ViewController::isWindingDownChanged, this,
            &MainWindow::updateMainButtonEnabled);
    connect(m_controller, &ViewController::promotionsRequested, this, [](QObject *receiver) {
        QNSPromoManager::sharedPromoManager()->showPromoWindow(receiver);
    });
    connect(m_controller, &ViewController::conversionEnded, this, &MainWindow::closeWhenStopped);
    connect(m_controller, &ViewController::isWindingDownChanged, this,
            &MainWindow::closeWhenStopped);
    connect(m_delegate, &AppDelegate::versionInfoChanged, this, &MainWindow::showVersion);

    showMainButtonTitle();
    showProgressText();
    showProgressValue();
    showSource();
    updateMainButtonEnabled();
    showVersion();
}

void MainWindow::showMainButtonTitle()
{
    m_mainButton->setTitle(m_controller->mainButtonTitle());
}

void MainWindow::showProgressText()
{
    m_statusLabel->setText(m_controller->progressText());
}

void MainWindow::showProgressValue()
{
    m_progressBar->setValue(static_cast<int>(std::lround(m_controller->progressBarValue())));
}

void MainWindow::showSource()
{
    const QString path = m_controller->isoPath();
    if (path.isEmpty()) {
        m_sourceLabel->setText(tr("No Windows ISO selected"));
        m_sourceLabel->setPalette(Appearance::secondaryTextPalette(palette()));
        m_sourceLabel->setToolTip({});
    } else {
        m_sourceLabel->setText(QFileInfo(path).fileName());
        m_sourceLabel->setPalette(palette());
        m_sourceLabel->setToolTip(path);
    }
}

void MainWindow::updateMainButtonEnabled()
{
    // While a stop winds down the title still reads "Cancel" but nothing may be
    // started or cancelled until cleanup has handed "Save..." back.
    m_mainButton->setEnabled(!(m_controller->isWindingDown() && !m_controller->isRunning()));
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
        if (event->isAccepted())
            emit closed();
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
