// The main window's widgets, menus and their accessible descriptions.

#include "AppDelegate.h"
#include "Appearance.h"
#include "DrivePicker.h"
#include "LogWindow.h"
#include "MainWindow.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "TemporaryFolderChoice.h"
#include "UDisksDrives.h"
#include "ViewController.h"

#include "SetupOptionsDialog.h"
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

QWidget *MainWindow::buildHeaderContent()
{
    auto *content = new QWidget;
    content->setFixedHeight(QNSHeaderSheetView::kBandHeight);

    // The band keeps its own colours whatever the desktop's palette.
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

QLayout *MainWindow::buildSourceRow()
{
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

    auto *row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(m_sourceButton);
    row->addWidget(m_sourceLabel, 1);
    return row;
}

QLayout *MainWindow::buildProgressArea()
{
    m_progressBar = new QProgressBar;
    m_progressBar->setObjectName(QStringLiteral("progressBar"));
    m_progressBar->setRange(0, 100);
    m_progressBar->setValue(0);
    m_progressBar->setTextVisible(false);
    m_progressBar->setFixedHeight(12);
    m_progressBar->setPalette(Appearance::progressPalette(m_progressBar->palette()));

    m_statusLabel = new QLabel;
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    // One line whatever the item name; a long one is cut, not wrapped.
    m_statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_statusLabel->setMinimumHeight(m_statusLabel->fontMetrics().height());

    // Under the status, smaller: bytes, rate and time left of the stage, or a
    // notice about the conversion.
    m_detailLabel = new QLabel;
    m_detailLabel->setObjectName(QStringLiteral("detailLabel"));
    m_detailLabel->setTextFormat(Qt::PlainText);
    m_detailLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    QFont small = m_detailLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_detailLabel->setFont(small);
    m_detailLabel->setPalette(Appearance::secondaryTextPalette(m_detailLabel->palette()));
    m_detailLabel->setMinimumHeight(m_detailLabel->fontMetrics().height());

    auto *area = new QVBoxLayout;
    area->setSpacing(8);
    area->addWidget(m_progressBar);
    area->addWidget(m_statusLabel);
    area->addSpacing(-4);
    area->addWidget(m_detailLabel);
    return area;
}

QLayout *MainWindow::buildFooter()
{
    m_mainButton = new QNSOvalButton;
    m_mainButton->setObjectName(QStringLiteral("mainButton"));
    m_mainButton->setMinimumWidth(120);
    m_mainButton->setDefault(true);
    connect(m_mainButton, &QPushButton::clicked, this, &MainWindow::mainButtonPressed);

    m_versionLabel = new QLabel;
    m_versionLabel->setObjectName(QStringLiteral("versionLabel"));
    m_versionLabel->setPalette(Appearance::secondaryTextPalette(m_versionLabel->palette()));

    m_promotionsButton = new QPushButton(tr("More Tools"));
    m_promotionsButton->setObjectName(QStringLiteral("promotionsButton"));
    m_promotionsButton->setFlat(true);
    m_promotionsButton->setCursor(Qt::PointingHandCursor);
    // Reads as a link beside the version text rather than as a second button.
    m_promotionsButton->setPalette(Appearance::linkPalette(m_promotionsButton->palette()));
    connect(m_promotionsButton, &QPushButton::clicked, m_controller,
            [this] { m_controller->showPromotions(); });

    auto *footer = new QHBoxLayout;
    footer->setSpacing(10);
    footer->addWidget(m_versionLabel);
    footer->addWidget(m_promotionsButton);
    footer->addStretch();
    // The Windows Setup options chosen, when any is.
    auto *setupSummary = new QLabel;
    setupSummary->setObjectName(QStringLiteral("setupSummary"));
    footer->addWidget(setupSummary);
    footer->addWidget(m_mainButton);
    return footer;
}

QWidget *MainWindow::buildBody()
{
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(24, 22, 24, 18);
    column->setSpacing(0);
    column->addLayout(buildSourceRow());
    column->addSpacing(14);
    m_drives = new UDisksDrives(QDBusConnection::systemBus(), this);
    m_drivePicker = new DrivePicker(m_drives);
    m_drivePicker->setObjectName(QStringLiteral("drivePicker"));
    connect(m_drivePicker, &DrivePicker::choiceChanged, this, [this] {
        showMainButtonTitle();
        updateMainButtonEnabled();
    });
    column->addWidget(m_drivePicker);
    column->addSpacing(20);
    column->addLayout(buildProgressArea());
    column->addStretch(1);
    column->addLayout(buildFooter());
    return body;
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(tr("&File"));
    QAction *open = file->addAction(tr("&Select Windows ISO..."));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, m_controller,
            [this] { m_controller->selectWindowsISOButtonPressed(); });
    buildOptionsMenu(file);
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
    m_logAction = help->addAction(tr("View &Log"));
    m_logAction->setObjectName(QStringLiteral("logAction"));
    connect(m_logAction, &QAction::triggered, m_logWindow, [this] {
        m_logWindow->show();
        m_logWindow->raise();
        m_logWindow->activateWindow();
    });
    m_promotionsAction = help->addAction(tr("&More Tools..."));
    m_promotionsAction->setObjectName(QStringLiteral("promotionsAction"));
    connect(m_promotionsAction, &QAction::triggered, m_delegate,
            [this] { m_delegate->showPromotions(); });
}

// Options for the next conversion, kept from one start of the program to the next.
void MainWindow::buildOptionsMenu(QMenu *file)
{
    file->addSeparator();
    m_bootableAction = addOption(file, tr("Keep the New Image &Bootable"),
                                 QStringLiteral("conversion/bootable"), &RunOptions::bootable);
    m_bootableAction->setObjectName(QStringLiteral("bootableAction"));
    m_directAction = addOption(file, tr("Build from the &Mounted Image (Less Space)"),
                               QStringLiteral("conversion/direct"), &RunOptions::direct);
    m_directAction->setObjectName(QStringLiteral("directAction"));
    new TemporaryFolderChoice(file, m_controller, this);
    file->addAction(SetupOptionsDialog::attach(
        m_controller, findChild<QLabel *>(QStringLiteral("setupSummary")), this));
}

QAction *MainWindow::addOption(QMenu *menu, const QString &text, const QString &key,
                               bool RunOptions::*option)
{
    QAction *action = menu->addAction(text);
    action->setCheckable(true);
    action->setChecked(QSettings().value(key, false).toBool());
    ViewController *controller = m_controller;
    const auto set = [controller, option](bool on) {
        RunOptions options = controller->options();
        options.*option = on;
        controller->setOptions(options);
    };
    set(action->isChecked());
    connect(action, &QAction::toggled, controller, [key, set](bool on) {
        QSettings().setValue(key, on);
        set(on);
    });
    return action;
}

void MainWindow::describeForAccessibility()
{
    // The status line keeps the text as its accessible name, so that each new
    // status is announced as a name change.
    m_statusLabel->setAccessibleDescription(tr("What the conversion is doing"));
    m_progressBar->setAccessibleName(tr("Conversion progress"));
    m_detailLabel->setAccessibleDescription(tr("Bytes done, rate and time left of the stage"));
    m_sourceLabel->setAccessibleDescription(tr("The Windows ISO image to convert"));
    m_sourceButton->setAccessibleDescription(tr("Chooses the Windows ISO image to convert"));
    m_mainButton->setAccessibleDescription(
        tr("Saves a copy of the image with install.wim split, or makes the USB drive a Windows "
           "installer, or cancels the running conversion"));
    m_promotionsButton->setAccessibleDescription(tr("Shows other tools from the same makers"));
    m_versionLabel->setAccessibleDescription(
        tr("Version of %1").arg(QCoreApplication::applicationName()));
}
