#include "ViewController.h"

#include "DiskTools.h"
#include "Log.h"
#include "MainQueue.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString nullable(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}
} // namespace

ViewController::ViewController(Prompts *prompts, QObject *parent)
    : QObject(parent),
      m_prompts(prompts), m_tools{DiskTools::hdiutilPath(), DiskTools::diskutilPath()}
{}

ViewController::~ViewController()
{
    // Let a running copy stop at its next item; the copy thread never waits for
    // the main thread, so joining cannot deadlock.
    m_isRunning.store(false);
    joinCopyThread();
    delete m_splitWrapper.data();
    delete m_createISOTask.data();
}

void ViewController::setTools(const Tools &tools)
{
    m_tools = tools;
}

void ViewController::viewDidLoad()
{
    setMainButtonTitle(QStringLiteral("Save..."));
}

void ViewController::showPromotions()
{
    emit promotionsRequested(this);
}

void ViewController::updateProgressText(const QString &text)
{
    MainQueue::async(this, [this, text] {
        Log::write(nullable(text));
        setProgressText(text);
    });
}

void ViewController::updateProgressBarValue(float value)
{
    MainQueue::async(this, [this, value] { setProgressBarValue(value); });
}

void ViewController::selectWindowsISOButtonPressed()
{
    Prompts::OpenPanel panel;
    panel.canChooseDirectories = false;
    panel.canCreateDirectories = false;
    panel.allowedFileTypes = {QStringLiteral("iso")};
    panel.message = QCoreApplication::translate("ViewController", "Select a Windows ISO Image:");
    QPointer<ViewController> self(this);
    m_prompts->beginOpenPanel(panel, [self](std::optional<QString> path) {
        if (self && path)
            self->setIsoPath(*path);
    });
}

void ViewController::convertButtonPressed()
{
    if (isoPath().isNull())
        return;
    if (isRunning()) {
        cancel();
        return;
    }
    if (m_activeConversion != 0) {
        // The last conversion is still winding down; its cleanup has not handed
        // the title back yet.
        Log::write(QStringLiteral("still stopping the last conversion"));
        return;
    }
    startConversion();
}

void ViewController::startConversion()
{
    Prompts::SavePanel panel;
    panel.allowedFileTypes = {QStringLiteral("iso")};
    panel.nameFieldStringValue = QFileInfo(isoPath()).fileName() + QStringLiteral("-split");
    const std::optional<QString> destination = m_prompts->runSavePanel(panel);
    if (!destination)
        return;
    setSaveISOPath(*destination);
    setMainButtonTitle(QStringLiteral("Cancel"));
    m_activeConversion = ++m_conversionCounter;
    m_succeeded = false;
    emit isWindingDownChanged();
    setIsRunning(true);
    mountStage();
}

void ViewController::cancel()
{
    updateProgressText(QStringLiteral("Cancelling, please wait"));
    setIsRunning(false);
    setIsCancelling(true);
    // Only a runner of this conversion that is still working is stopped; ended
    // runners and those of earlier conversions are left alone, so the stop
    // reaches cleanup once, through the end handling of the stage in progress.
    const auto stopIfOurs = [this](QNTaskWrapperWithBlocks *runner) {
        if (runner && runner->isProcessRunning() &&
            runner->property("conversion").toULongLong() == m_activeConversion)
            runner->stopProcess();
    };
    stopIfOurs(splitWrapper());
    stopIfOurs(createISOTask());
    Log::write(QStringLiteral("cancelling"));
}

void ViewController::fail(const Error &error)
{
    m_prompts->runErrorAlert(error);
    setIsRunning(false);
    setIsCancelling(true);
    cleanup();
}

void ViewController::joinCopyThread()
{
    if (m_copyThread.joinable())
        m_copyThread.join();
}

// Properties

QString ViewController::isoPath() const
{
    return m_isoPath.get();
}
void ViewController::setIsoPath(const QString &path)
{
    m_isoPath.set(path);
    emit isoPathChanged();
}
QNTaskWrapperWithBlocks *ViewController::splitWrapper() const
{
    return m_splitWrapper.data();
}
void ViewController::setSplitWrapper(QNTaskWrapperWithBlocks *runner)
{
    QNTaskWrapperWithBlocks *previous = m_splitWrapper.data();
    m_splitWrapper = runner;
    if (previous && previous != runner)
        previous->deleteLater();
    emit splitWrapperChanged();
}
QNTaskWrapperWithBlocks *ViewController::createISOTask() const
{
    return m_createISOTask.data();
}
void ViewController::setCreateISOTask(QNTaskWrapperWithBlocks *runner)
{
    QNTaskWrapperWithBlocks *previous = m_createISOTask.data();
    m_createISOTask = runner;
    if (previous && previous != runner)
        previous->deleteLater();
    emit createISOTaskChanged();
}
QString ViewController::mountPath() const
{
    return m_mountPath.get();
}
void ViewController::setMountPath(const QString &path)
{
    m_mountPath.set(path);
    emit mountPathChanged();
}
QString ViewController::isoTempFolder() const
{
    return m_isoTempFolder.get();
}
void ViewController::setIsoTempFolder(const QString &path)
{
    m_isoTempFolder.set(path);
    emit isoTempFolderChanged();
}
QString ViewController::tempDirectoryPath() const
{
    return m_tempDirectoryPath.get();
}
void ViewController::setTempDirectoryPath(const QString &path)
{
    m_tempDirectoryPath.set(path);
    emit tempDirectoryPathChanged();
}
QString ViewController::saveISOPath() const
{
    return m_saveISOPath.get();
}
void ViewController::setSaveISOPath(const QString &path)
{
    m_saveISOPath.set(path);
    emit saveISOPathChanged();
}
QString ViewController::progressText() const
{
    return m_progressText.get();
}
void ViewController::setProgressText(const QString &text)
{
    m_progressText.set(text);
    emit progressTextChanged();
}
QString ViewController::mainButtonTitle() const
{
    return m_mainButtonTitle.get();
}
void ViewController::setMainButtonTitle(const QString &title)
{
    m_mainButtonTitle.set(title);
    emit mainButtonTitleChanged();
}
void ViewController::setProgressBarValue(float value)
{
    m_progressBarValue.store(value);
    emit progressBarValueChanged();
}
void ViewController::setIsRunning(bool running)
{
    m_isRunning.store(running);
    emit isRunningChanged();
}
void ViewController::setIsCancelling(bool cancelling)
{
    m_isCancelling.store(cancelling);
    emit isCancellingChanged();
}
