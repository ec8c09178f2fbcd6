// The window showing the controller's state: its status, progress, button
// title and source, kept up to date as they change.

#include "MainWindow.h"

#include "AppDelegate.h"
#include "Appearance.h"
#include "DrivePicker.h"
#include "QNSOvalButton.h"
#include "QNSPromoManager.h"
#include "ViewController.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <cmath>

void MainWindow::bindController()
{
    connect(m_controller, &ViewController::mainButtonTitleChanged, this,
            &MainWindow::showMainButtonTitle);
    connect(m_controller, &ViewController::progressTextChanged, this,
            &MainWindow::showProgressText);
    connect(m_controller, &ViewController::progressBarValueChanged, this,
            &MainWindow::showProgressValue);
    connect(m_controller, &ViewController::stageDetailChanged, this, &MainWindow::showDetail);
    connect(m_controller, &ViewController::noticeChanged, this, &MainWindow::showDetail);
    connect(m_controller, &ViewController::conversionEnded, this, &MainWindow::showOutcome);
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
    showDetail();
    showSource();
    updateMainButtonEnabled();
    showVersion();
}

void MainWindow::showMainButtonTitle()
{
    // The idle title, for a drive.
    if (m_drivePicker->toDrive() && m_controller->mainButtonTitle() == QLatin1String("Save...")) {
        m_mainButton->setTitle(tr("Write to Drive..."));
        return;
    }
    // The controller's titles are the English ones; shown in the user's language.
    m_mainButton->setTitle(QCoreApplication::translate(
        "ViewController", m_controller->mainButtonTitle().toUtf8().constData()));
}

void MainWindow::showProgressText()
{
    m_statusLabel->setText(m_controller->progressText());
    QAccessibleEvent announcement(m_statusLabel, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&announcement);
}

// The bar moves on between the milestones as the stage in progress goes.
void MainWindow::showProgressValue()
{
    m_progressBar->setValue(static_cast<int>(std::lround(m_controller->shownProgress())));
}

void MainWindow::showDetail()
{
    const QString summary = m_controller->stageDetail().summary();
    m_detailLabel->setText(summary.isEmpty() ? m_controller->notice() : summary);
    showProgressValue();
}

// A stop by hand says so once cleanup is through; the next status replaces it.
void MainWindow::showOutcome()
{
    if (m_controller->lastOutcome() == ViewController::Outcome::Cancelled)
        m_statusLabel->setText(tr("Cancelled"));
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
    const bool active = conversionActive();
    m_drivePicker->setEnabled(!active);
    m_mainButton->setEnabled(
        !(m_controller->isWindingDown() && !m_controller->isRunning()) &&
        (active || !m_drivePicker->toDrive() || m_drivePicker->chosenDrive().has_value()));
    showMainButtonTitle();
}
