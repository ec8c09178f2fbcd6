#pragma once

#include "Prompts.h"
#include "QNTaskWrapperWithBlocks.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <optional>
#include <thread>

// Owns the whole conversion: source and destination, mount, staging copy,
// split, build, cleanup, progress and cancel. It holds no widgets; a window, the
// terminal front end and the tests drive it alike through its actions and watch
// its properties.
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
    // True from the start of a conversion until its cleanup has handed the title
    // back; a press of the main button in the stopping part of that time starts
    // nothing. The window disables its main button while a stop winds down.
    Q_PROPERTY(bool isWindingDown READ isWindingDown NOTIFY isWindingDownChanged)

public:
    // Where the conversion finds its tools and resources. Defaults come from the
    // platform; tests point them at fakes.
    struct Tools {
        QString hdiutil;
        QString diskutil;
    };

    explicit ViewController(Prompts *prompts, QObject *parent = nullptr);
    ~ViewController() override;

    void setTools(const Tools &tools);
    const Tools &tools() const { return m_tools; }

    // Called once the view that shows the controller exists.
    void viewDidLoad();

    // Actions of the window's controls.
    void selectWindowsISOButtonPressed();
    void convertButtonPressed();
    void showPromotions();

    // Status text and progress value; both are applied later on the main thread,
    // never inline. Callable from any thread.
    void updateProgressText(const QString &text);
    void updateProgressBarValue(float value);

    // Ends a conversion: removes the temporary directory, resets progress and
    // status, clears isCancelling and hands the title "Save..." back.
    void cleanup();

    QString isoPath() const;
    void setIsoPath(const QString &path);
    QNTaskWrapperWithBlocks *splitWrapper() const;
    QNTaskWrapperWithBlocks *createISOTask() const;
    QString mountPath() const;
    void setMountPath(const QString &path);
    QString isoTempFolder() const;
    void setIsoTempFolder(const QString &path);
    QString tempDirectoryPath() const;
    void setTempDirectoryPath(const QString &path);
    QString saveISOPath() const;
    void setSaveISOPath(const QString &path);
    QString progressText() const;
    QString mainButtonTitle() const;
    void setMainButtonTitle(const QString &title);
    float progressBarValue() const { return m_progressBarValue.load(); }
    bool isRunning() const { return m_isRunning.load(); }
    void setIsRunning(bool running);
    bool isCancelling() const { return m_isCancelling.load(); }
    void setIsCancelling(bool cancelling);
    bool isWindingDown() const { return m_activeConversion != 0; }

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

    // The window's and the application's promotions action.
    void promotionsRequested(QObject *receiver);
    // A conversion has wound down completely (its cleanup handed the title back).
    // `succeeded` is true only when the new ISO was written.
    void conversionEnded(bool succeeded);

private:
    // Stages, each in a source file of its own.
    void startConversion();
    void cancel();
    void mountStage();
    void stagingStart();
    void copyThreadMain(quint64 conversion, QString source, QString destination);
    void copyContinuation(quint64 conversion, std::optional<Error> copyError);
    bool shouldCopyItem(const QString &sourcePath);
    void copyFilesDone();
    void splitEnded(quint64 conversion, const QString &sourcesFolder, const QString &wimPath,
                    const QString &swmPath);
    void startBuild();
    void buildEnded(quint64 conversion, const QString &partialPath);
    // The failure idiom: the Error alert, isRunning NO, isCancelling YES, cleanup.
    void fail(const Error &error);

    void setSplitWrapper(QNTaskWrapperWithBlocks *runner);
    void setCreateISOTask(QNTaskWrapperWithBlocks *runner);
    void setProgressText(const QString &text);
    void setProgressBarValue(float value);
    void joinCopyThread();

    // A string property read and replaced under a short lock of its own, so the
    // copy thread always gets a whole value.
    struct GuardedString {
        mutable QMutex mutex;
        QString value;
        QString get() const
        {
            QMutexLocker lock(&mutex);
            return value;
        }
        bool set(const QString &v)
        {
            QMutexLocker lock(&mutex);
            if (v == value && v.isNull() == value.isNull())
                return false;
            value = v;
            return true;
        }
    };

    Prompts *m_prompts;
    Tools m_tools;

    GuardedString m_isoPath;
    GuardedString m_mountPath;
    GuardedString m_isoTempFolder;
    GuardedString m_tempDirectoryPath;
    GuardedString m_saveISOPath;
    GuardedString m_progressText;
    GuardedString m_mainButtonTitle;
    QPointer<QNTaskWrapperWithBlocks> m_splitWrapper;
    QPointer<QNTaskWrapperWithBlocks> m_createISOTask;
    std::atomic<float> m_progressBarValue{0.0f};
    std::atomic<bool> m_isRunning{false};
    std::atomic<bool> m_isCancelling{false};

    // Every conversion gets a number; runners and continuations carry the
    // number of the conversion that made them and do nothing for another one.
    quint64 m_conversionCounter = 0;
    quint64 m_activeConversion = 0;
    bool m_succeeded = false;
    // The source image is attached by this conversion and not yet unmounted.
    bool m_sourceAttached = false;
    QString m_splitErrorText;
    QString m_buildErrorText;
    std::thread m_copyThread;
};
