#pragma once

#include "DriveRules.h"
#include "Error.h"
#include "FileSystem.h"
#include "Leftovers.h"
#include "ProgressMeter.h"
#include "Prompts.h"
#include "QNTaskWrapperWithBlocks.h"
#include "SourceCheck.h"
#include "StageDetail.h"
#include "ToolRun.h"
#include "UDisksDrives.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// One conversion of one image, from the mount to the cleanup: it owns what the
// run makes (temporary directory, mount, tool runs, runners, worker threads)
// and ends with all of it gone. Started once, it reports what it does through
// its signals and ends with finished(); a job that has finished is deleted, so
// nothing of it can reach the next one.
class Conversion : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString source;      // the image to convert
        QString destination; // the new image
        bool direct = false; // split and build from the mount, without a staging copy
        bool bootable = false;
        // What the new image may take the place of: the file the user agreed
        // to replace, or anything (--force). A file that appears at the
        // destination meanwhile is never replaced unasked.
        std::optional<FileSystem::FileIdentity> replaces;
        bool replaceAnything = false;
        // A USB installer written to this drive instead of a new image (as
        // the user confirmed it; it is checked again before it is opened).
        std::optional<DriveFacts> drive;
    };
    struct Tools {
        QString hdiutil;
        QString diskutil;
    };
    enum class Outcome { Succeeded, Failed, Cancelled };
    Q_ENUM(Outcome)

    Conversion(Options options, Tools tools, Prompts *prompts, QObject *parent = nullptr);
    ~Conversion() override;

    void start();
    // Stops the run at the next point it can: at once for a tool, within a
    // chunk for the copy, when the mount tool returns for the mount.
    void cancel();
    bool isRunning() const { return m_running.load(); }

signals:
    // The conversion state, in the order it changes.
    void runningChanged(bool running);
    void cancellingChanged(bool cancelling);
    void mountPathChanged(const QString &path);
    void temporaryDirectoryChanged(const QString &path);
    void stagingFolderChanged(const QString &path);
    void splitRunnerStarted(QNTaskWrapperWithBlocks *runner);
    void buildRunnerStarted(QNTaskWrapperWithBlocks *runner);
    // Status texts and milestones, to be applied later on the main thread.
    // `item` marks the name of an item being copied.
    void statusText(const QString &text, bool item);
    void milestone(float value);
    void detailChanged(const StageDetail &detail);
    // Something the user should know that does not stop the conversion.
    void notice(const QString &text);
    // The last step of cleanup: the window may take its idle look again.
    void cleanedUp();
    void finished(Conversion::Outcome outcome);

private:
    // MountStage.cpp
    void mountStage();
    void unmountEarlierMounts(const QByteArray &list);
    void unmountNext(QStringList mountPoints);
    void attachSource();
    void attached(const QByteArray &output, const QString &reason);
    // SourceCheckStage.cpp
    void inspectStage();
    void inspected(std::variant<SourceCheck::Layout, Error> result);
    // StagingCopy.cpp
    void stagingStart();
    bool makeTemporaryDirectory();
    bool shouldCopyItem(const QString &sourcePath);
    void copyContinuation(std::optional<Error> copyError);
    // ExportStage.cpp
    void exportStage();
    // SplitStage.cpp
    void copyFilesDone();
    void splitStart();
    void splitEnded();
    std::optional<Error> checkPieces() const;
    void verifyStage();
    void verified(const WimImage::Result &result);
    void joinVerifier();
    // DriveStage.cpp
    void openDriveStage();
    void driveOpened(int fd, const QString &error);
    void stickTreeStage();
    void stickFilesStage();
    bool stickStageEnded(const std::optional<Error> &error);
    bool driveStillThere();
    void splitOrExport();
    void stickPiecesStage();
    void writeStage();
    void driveWritten(std::optional<Error> error);
    void closeDrive();
    QString sourcesName() const;
    // BuildStage.cpp
    void startBuild();
    void launchBuild(const QStringList &bootArguments);
    QStringList buildArguments(const QString &output, const QStringList &bootArguments) const;
    void buildEnded();
    QString builtImage() const;
    void publish();
    // Cleanup.cpp
    void cleanup(std::function<void()> then = {});
    void removeTemporaryFiles(std::function<void()> then);
    void detachSource(std::function<void()> then);
    void finishCleanup();
    void finish();

    // Shared by the stages (Conversion.cpp).
    void fail(const Error &error);
    void setRunning(bool running);
    void setCancelling(bool cancelling);
    // A status for the window, marked with QT_TR_NOOP; `argument` fills its %1.
    void report(const char *status, const QString &argument = QString(), bool item = false);
    void reportMilestone(float value);
    void beginMeasuring(StageDetail::Stage stage, qint64 total);
    void endMeasuring();
    void publishDetail();
    // A worker that reads from a mount whose file system has stopped answering
    // never returns by itself: the mount is then detached by force, which
    // ends its reads with an error.
    void watchForStall();
    // hdiutil unmount, tried again for a while when the volume is busy.
    void unmountSource(bool force, std::function<void(bool unmounted, QString reason)> done,
                       int attempt = 0);
    // Runs `work` on the worker thread, then `done` with its result here.
    template <typename Work, typename Done> void inBackground(Work work, Done done);
    void joinWorker();
    void runTool(const QString &program, const QStringList &arguments, ToolRun::Done done);

    QString sourcesFolder() const;
    QString temporaryFolder() const;
    // A tool's failure in its own words; a full disk is named by its folder.
    Error toolFailure(const QString &message, const QString &tool,
                      const QNTaskWrapperWithBlocks *runner, const QString &errorText,
                      const QString &folder) const;

    Options m_options;
    Tools m_tools;
    Prompts *m_prompts;
    std::atomic<bool> m_running{false};
    bool m_started = false;
    bool m_cancelled = false;
    bool m_cleaningUp = false;
    std::optional<Outcome> m_outcome;

    QString m_mountPath;
    bool m_sourceAttached = false;
    SourceCheck::Layout m_layout;
    QString m_temporaryDirectory;
    QString m_stagingFolder;
    RunMarker m_marker;
    QString m_piecesFolder;  // where install.swm and its parts go
    QString m_splitSource;   // the install.wim that is split
    QString m_partialFolder; // beside the destination, while the build writes

    QPointer<ToolRun> m_tool; // the disk tool being waited for, if any
    QTimer m_mountDeadline;
    QPointer<QNTaskWrapperWithBlocks> m_splitRunner;
    QPointer<QNTaskWrapperWithBlocks> m_buildRunner;
    QString m_toolErrors;
    std::thread m_worker;
    std::thread m_verifier; // reads the pieces back while the build runs
    std::optional<WimImage::Result> m_verification;
    std::optional<Error> m_pendingFailure; // the verification's, once the build has stopped
    bool m_buildFinished = false;
    std::atomic<bool> m_showingVerification{false};
    bool m_readingSource = false; // a worker or a tool reads from the mounted source
    bool m_sourceStalled = false; // detached by force because it stopped answering
    QTimer m_stallTimer;
    qint64 m_lastProgress = -1;
    int m_quietSeconds = 0;
    ProgressMeter m_meter;
    QTimer m_detailTimer;

    std::unique_ptr<UDisksDrives> m_drives;
    DriveFacts m_drive;          // as found right before it was opened
    int m_driveFd = -1;
    bool m_driveTouched = false; // written to by the worker
    bool m_openingDrive = false; // waiting for the disk service (and polkit)
    QString m_stickImage;        // the USB installer, built in the temporary directory
    // What the stick's image held on disk when the stage measured began; -1
    // until the image exists.
    std::atomic<qint64> m_stickBase{-1};
    qint64 m_stickTotal = 0; // the bytes the stage measured adds to it
};

template <typename Work, typename Done> void Conversion::inBackground(Work work, Done done)
{
    joinWorker();
    m_quietSeconds = 0;
    m_worker = std::thread([this, work = std::move(work), done = std::move(done)]() mutable {
        auto result = work();
        // The job waits for its worker before it goes, so it is still here.
        QMetaObject::invokeMethod(
            this,
            [this, done = std::move(done), result = std::move(result)]() mutable {
                joinWorker();
                m_readingSource = false;
                done(std::move(result));
            },
            Qt::QueuedConnection);
    });
}
