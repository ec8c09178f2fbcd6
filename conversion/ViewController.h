#pragma once

#include "Conversion.h"
#include "Prompts.h"
#include "QNTaskWrapperWithBlocks.h"
#include "StageDetail.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <memory>

// The conversion as the window and the terminal front end see it: the source
// and destination, the status text, the progress value and the main button's
// title, and the actions of the window's buttons. Each conversion is a
// Conversion job of its own; the controller starts it, forwards a cancel to it
// and shows what it reports. It holds no widgets.
class ViewController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString isoPath READ isoPath WRITE setIsoPath NOTIFY isoPathChanged)
    Q_PROPERTY(QNTaskWrapperWithBlocks *splitWrapper READ splitWrapper NOTIFY splitWrapperChanged)
    Q_PROPERTY(
        QNTaskWrapperWithBlocks *createISOTask READ createISOTask NOTIFY createISOTaskChanged)
    Q_PROPERTY(QString mountPath READ mountPath WRITE setMountPath NOTIFY mountPathChanged)
    Q_PROPERTY(
        QString isoTempFolder READ isoTempFolder WRITE setIsoTempFolder NOTIFY isoTempFolderChanged)
    Q_PROPERTY(QString tempDirectoryPath READ tempDirectoryPath WRITE setTempDirectoryPath NOTIFY
                   tempDirectoryPathChanged)
    Q_PROPERTY(QString saveISOPath READ saveISOPath WRITE setSaveISOPath NOTIFY saveISOPathChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressTextChanged)
    Q_PROPERTY(QString mainButtonTitle READ mainButtonTitle WRITE setMainButtonTitle NOTIFY
                   mainButtonTitleChanged)
    Q_PROPERTY(float progressBarValue READ progressBarValue NOTIFY progressBarValueChanged)
    Q_PROPERTY(bool isRunning READ isRunning WRITE setIsRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isCancelling READ isCancelling WRITE setIsCancelling NOTIFY isCancellingChanged)
    // True while a stopped or finished conversion winds down, until its cleanup
    // has handed the title back; a press of the main button then starts nothing.
    Q_PROPERTY(bool isWindingDown READ isWindingDown NOTIFY isWindingDownChanged)
    // The stage in progress: bytes, rate, time left; an empty detail between stages.
    Q_PROPERTY(StageDetail stageDetail READ stageDetail NOTIFY stageDetailChanged)
    // Something about the conversion in progress, or the last one, that the
    // user should know but that stopped nothing; empty when there is none.
    Q_PROPERTY(QString notice READ notice NOTIFY noticeChanged)

public:
    using Outcome = Conversion::Outcome;

    explicit ViewController(Prompts *prompts, QObject *parent = nullptr);
    ~ViewController() override;

    // Called once the view that shows the controller exists.
    void viewDidLoad();

    // Actions of the window's controls.
    void selectWindowsISOButtonPressed();
    void convertButtonPressed();
    void showPromotions();

    // Status text and progress value; both are applied later on the main thread,
    // never inline. Callable from any thread. A text is logged when applied,
    // except an item's name: the copy logs the item itself, and once a
    // conversion has stopped, a name would hide "Cancelling, please wait".
    void updateProgressText(const QString &text, bool item = false);
    void updateProgressBarValue(float value);

    QString isoPath() const { return m_isoPath; }
    void setIsoPath(const QString &path);
    QNTaskWrapperWithBlocks *splitWrapper() const { return m_splitWrapper.data(); }
    QNTaskWrapperWithBlocks *createISOTask() const { return m_createISOTask.data(); }
    QString mountPath() const { return m_mountPath; }
    void setMountPath(const QString &path);
    QString isoTempFolder() const { return m_isoTempFolder; }
    void setIsoTempFolder(const QString &path);
    QString tempDirectoryPath() const { return m_tempDirectoryPath; }
    void setTempDirectoryPath(const QString &path);
    QString saveISOPath() const { return m_saveISOPath; }
    void setSaveISOPath(const QString &path);
    QString progressText() const { return m_progressText; }
    QString mainButtonTitle() const { return m_mainButtonTitle; }
    void setMainButtonTitle(const QString &title);
    float progressBarValue() const { return m_progressBarValue.load(); }
    bool isRunning() const { return m_isRunning.load(); }
    void setIsRunning(bool running);
    bool isCancelling() const { return m_isCancelling.load(); }
    void setIsCancelling(bool cancelling);
    bool isWindingDown() const { return m_job && !isRunning(); }
    // The conversion winding down has removed everything it made; what is left
    // of it is the closing alert.
    bool isCleanedUp() const { return m_cleanedUp; }
    StageDetail stageDetail() const { return m_stageDetail; }
    // Where the bar stands: the last milestone, or further within the stage in
    // progress. It never goes back during a run: a cancel or a failure leaves
    // it where it was until the run is over.
    float shownProgress() const { return m_shownProgress; }
    QString notice() const { return m_notice; }
    // How the next conversion runs: direct, bootable, replacing anything at
    // the destination (--force), or a USB installer for a drive whose erase
    // the user has confirmed; the disk tools it calls. The source, the
    // destination and the file that may be replaced come from its start.
    const RunOptions &options() const { return m_options; }
    void setOptions(const RunOptions &options) { m_options = options; }
    // How the last conversion ended; nothing before the first has.
    std::optional<Outcome> lastOutcome() const { return m_lastOutcome; }

signals:
    void isoPathChanged();
    void splitWrapperChanged();
    void createISOTaskChanged();
    void mountPathChanged();
    void isoTempFolderChanged();
    void tempDirectoryPathChanged();
    void saveISOPathChanged();
    void progressTextChanged();
    void mainButtonTitleChanged();
    void progressBarValueChanged();
    void isRunningChanged();
    void isCancellingChanged();
    void isWindingDownChanged();
    void stageDetailChanged();
    void noticeChanged();

    // The window's and the application's promotions action.
    void promotionsRequested(QObject *receiver);
    // A conversion has wound down completely (its cleanup handed the title back).
    // `succeeded` is true only when the new ISO was written; lastOutcome() tells more.
    void conversionEnded(bool succeeded);
    // The conversion's cleanup is through and the title is "Save..." again;
    // conversionEnded follows once its closing alert has been dismissed.
    void conversionCleanedUp();

private:
    void startConversion();
    void connectJob(Conversion *job);
    // The controller keeps a conversion's runners after it has ended; the
    // next conversion's runner replaces and releases them.
    void holdRunner(QPointer<QNTaskWrapperWithBlocks> &slot, QNTaskWrapperWithBlocks *runner,
                    void (ViewController::*changed)());
    void setProgressText(const QString &text);
    void setProgressBarValue(float value);
    void setNotice(const QString &text);

    Prompts *m_prompts;
    std::unique_ptr<Conversion> m_job;

    // Written and read on the main thread only: the job's workers reach the
    // controller through queued signals.
    QString m_isoPath;
    QString m_mountPath;
    QString m_isoTempFolder;
    QString m_tempDirectoryPath;
    QString m_saveISOPath;
    QString m_progressText;
    QString m_mainButtonTitle;
    QPointer<QNTaskWrapperWithBlocks> m_splitWrapper;
    QPointer<QNTaskWrapperWithBlocks> m_createISOTask;
    std::atomic<float> m_progressBarValue{0.0f};
    float m_shownProgress = 0;
    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_isCancelling{false};
    StageDetail m_stageDetail;
    QString m_notice;
    RunOptions m_options;
    std::optional<Outcome> m_lastOutcome;
    bool m_cleanedUp = false;
};
