#include "ViewController.h"

#include "DiskTools.h"
#include "Log.h"
#include "MainQueue.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

// The titles stay English in the property; the window shows them translated.
const char *const kSaveTitle = QT_TRANSLATE_NOOP("ViewController", "Save...");
const char *const kCancelTitle = QT_TRANSLATE_NOOP("ViewController", "Cancel");

// Replaces a string property's value; true when it really changed.
bool assign(QString &property, const QString &value)
{
    if (property == value && property.isNull() == value.isNull())
        return false;
    property = value;
    return true;
}

} // namespace

ViewController::ViewController(Prompts *prompts, QObject *parent)
    : QObject(parent), m_prompts(prompts)
{
    m_options.tools = {DiskTools::hdiutilPath(), DiskTools::diskutilPath()};
    qRegisterMetaType<StageDetail>();
}

ViewController::~ViewController() = default;

void ViewController::viewDidLoad()
{
    setMainButtonTitle(QString::fromLatin1(kSaveTitle));
}

void ViewController::showPromotions()
{
    emit promotionsRequested(this);
}

void ViewController::updateProgressText(const QString &text, bool item)
{
    MainQueue::async(this, [this, text, item] {
        if (item && !isRunning())
            return;
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
        m_job->cancel();
        return;
    }
    if (m_job) {
        // The last conversion is still winding down; its cleanup has not handed
        // the title back yet.
        Log::write(QStringLiteral("still stopping the last conversion"));
        return;
    }
    startConversion();
}

void ViewController::startConversion()
{
    RunOptions options = m_options;
    options.source = isoPath();
    if (!options.drive) {
        Prompts::SavePanel panel;
        panel.allowedFileTypes = {QStringLiteral("iso")};
        panel.nameFieldStringValue = QFileInfo(isoPath()).fileName() + QStringLiteral("-split");
        const std::optional<QString> destination = m_prompts->runSavePanel(panel);
        if (!destination)
            return;
        setSaveISOPath(*destination);
        options.destination = *destination;
        // The panel asked about the file there now; only that one may be replaced.
        options.replaces = FileSystem::identityOf(*destination);
    }
    // A drive's erase was confirmed by the front end before the press.
    setMainButtonTitle(QString::fromLatin1(kCancelTitle));
    setNotice(QString());
    m_job = std::make_unique<Conversion>(options, m_prompts);
    connectJob(m_job.get());
    m_job->start();
}

void ViewController::connectJob(Conversion *job)
{
    // The controller is the context of every connection: what the job reports
    // from a worker thread is applied here, on the main thread.
    connect(job, &Conversion::runningChanged, this, &ViewController::setIsRunning);
    connect(job, &Conversion::cancellingChanged, this, &ViewController::setIsCancelling);
    connect(job, &Conversion::mountPathChanged, this, &ViewController::setMountPath);
    connect(job, &Conversion::temporaryDirectoryChanged, this,
            &ViewController::setTempDirectoryPath);
    connect(job, &Conversion::stagingFolderChanged, this, &ViewController::setIsoTempFolder);
    connect(job, &Conversion::splitRunnerStarted, this, [this](QNTaskWrapperWithBlocks *runner) {
        holdRunner(m_splitWrapper, runner, &ViewController::splitWrapperChanged);
    });
    connect(job, &Conversion::buildRunnerStarted, this, [this](QNTaskWrapperWithBlocks *runner) {
        holdRunner(m_createISOTask, runner, &ViewController::createISOTaskChanged);
    });
    connect(job, &Conversion::statusText, this, &ViewController::updateProgressText);
    connect(job, &Conversion::milestone, this, &ViewController::updateProgressBarValue);
    // Behind the status texts that came before it: a stage's amounts never
    // show under the name of the stage before.
    connect(job, &Conversion::detailChanged, this, [this](const StageDetail &detail) {
        MainQueue::async(this, [this, detail] {
            if (detail == m_stageDetail)
                return;
            m_stageDetail = detail;
            if (detail.stage != StageDetail::Stage::None)
                m_shownProgress = std::max(m_shownProgress, detail.overall());
            emit stageDetailChanged();
        });
    });
    connect(job, &Conversion::notice, this, &ViewController::setNotice);
    connect(job, &Conversion::cleanedUp, this, [this] {
        // The title comes back behind the reports cleanup made.
        MainQueue::async(this, [this] {
            setMainButtonTitle(QString::fromLatin1(kSaveTitle));
            m_cleanedUp = true;
            emit conversionCleanedUp();
        });
    });
    connect(job, &Conversion::finished, this, [this](Outcome outcome) {
        // Behind the title: only then may a new conversion start.
        MainQueue::async(this, [this, outcome] {
            m_lastOutcome = outcome;
            m_job.reset();
            m_cleanedUp = false;
            emit isWindingDownChanged();
            emit conversionEnded(outcome == Outcome::Succeeded);
        });
    });
}

// Properties

void ViewController::setIsoPath(const QString &path)
{
    if (assign(m_isoPath, path))
        emit isoPathChanged();
}
void ViewController::holdRunner(QPointer<QNTaskWrapperWithBlocks> &slot,
                                QNTaskWrapperWithBlocks *runner, void (ViewController::*changed)())
{
    QNTaskWrapperWithBlocks *previous = slot.data();
    runner->setParent(this);
    slot = runner;
    if (previous && previous != runner)
        previous->deleteLater();
    emit(this->*changed)();
}
void ViewController::setMountPath(const QString &path)
{
    if (assign(m_mountPath, path))
        emit mountPathChanged();
}
void ViewController::setIsoTempFolder(const QString &path)
{
    if (assign(m_isoTempFolder, path))
        emit isoTempFolderChanged();
}
void ViewController::setTempDirectoryPath(const QString &path)
{
    if (assign(m_tempDirectoryPath, path))
        emit tempDirectoryPathChanged();
}
void ViewController::setSaveISOPath(const QString &path)
{
    if (assign(m_saveISOPath, path))
        emit saveISOPathChanged();
}
void ViewController::setProgressText(const QString &text)
{
    if (assign(m_progressText, text))
        emit progressTextChanged();
}
void ViewController::setMainButtonTitle(const QString &title)
{
    if (assign(m_mainButtonTitle, title))
        emit mainButtonTitleChanged();
}
void ViewController::setProgressBarValue(float value)
{
    m_shownProgress = value == 0 ? 0 : std::max(m_shownProgress, value);
    if (m_progressBarValue.exchange(value) != value)
        emit progressBarValueChanged();
}
void ViewController::setIsRunning(bool running)
{
    if (m_isRunning.exchange(running) == running)
        return;
    emit isRunningChanged();
    if (m_job)
        emit isWindingDownChanged();
}
void ViewController::setIsCancelling(bool cancelling)
{
    if (m_isCancelling.exchange(cancelling) != cancelling)
        emit isCancellingChanged();
}
void ViewController::setNotice(const QString &text)
{
    if (assign(m_notice, text))
        emit noticeChanged();
}
