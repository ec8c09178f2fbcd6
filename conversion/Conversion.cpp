#include "Conversion.h"

#include "Log.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>

namespace {
// Often enough that nothing on screen stands still, rarely enough to cost nothing.
constexpr int kDetailIntervalMs = 100;
// How long a cancelled run waits for a mount tool before it stops the tool.
constexpr int kMountDeadlineMs = 10 * 1000;
constexpr int kUnmountAttempts = 4;
// Without a byte for this long, a mounted source counts as stalled.
constexpr int kStallSeconds = 30;
// After a cancel, a worker has this long to come back by itself.
constexpr int kCancelGraceSeconds = 3;
constexpr int kUnmountRetryMs = 500;
} // namespace

Conversion::Conversion(Options options, Tools tools, Prompts *prompts, QObject *parent)
    : QObject(parent), m_options(std::move(options)), m_tools(std::move(tools)), m_prompts(prompts)
{
    // A USB installer is made from the mount: it needs no staging copy.
    if (m_options.drive)
        m_options.direct = true;
    m_detailTimer.setInterval(kDetailIntervalMs);
    connect(&m_detailTimer, &QTimer::timeout, this, &Conversion::publishDetail);
    m_mountDeadline.setSingleShot(true);
    m_mountDeadline.setInterval(kMountDeadlineMs);
    connect(&m_mountDeadline, &QTimer::timeout, this, [this] {
        if (!m_tool)
            return;
        Log::write(QStringLiteral("the disk tool did not answer in time; stopping it"));
        m_tool->terminate();
    });
    m_stallTimer.setInterval(1000);
    connect(&m_stallTimer, &QTimer::timeout, this, &Conversion::watchForStall);
}

Conversion::~Conversion()
{
    // A worker stops at its next chunk once the run is over; it never waits for
    // this thread, so joining cannot deadlock.
    m_running = false;
    joinWorker();
    joinVerifier();
    closeDrive();
}

void Conversion::start()
{
    if (m_started)
        return;
    m_started = true;
    setRunning(true);
    m_stallTimer.start();
    mountStage();
}

void Conversion::cancel()
{
    if (!isRunning())
        return;
    report(QT_TR_NOOP("Cancelling, please wait"));
    m_cancelled = true;
    setRunning(false);
    setCancelling(true);
    // Only a runner of this run that is still working is stopped; its end
    // handling takes the run to cleanup.
    for (QNTaskWrapperWithBlocks *runner : {m_splitRunner.data(), m_buildRunner.data()}) {
        if (runner && runner->isProcessRunning())
            runner->stopProcess();
    }
    // A mount tool is given a moment to return; one that hangs is stopped.
    if (m_tool)
        m_mountDeadline.start();
    // The unmounts and the opening stop here; a dialog polkit shows already
    // is answered for nothing, and a drive opened after all is closed at once.
    if (m_openingDrive) {
        m_openingDrive = false;
        m_drives.reset();
        QTimer::singleShot(0, this, [this] { cleanup(); });
    }
    Log::write(QStringLiteral("cancelling"));
}

void Conversion::fail(const Error &error)
{
    // Whatever failed, the reason was a source that stopped answering.
    if (m_sourceStalled)
        m_prompts->runErrorAlert({tr("The source image stopped answering."),
                                  tr("Its file system gave no data for %1 seconds, so it was "
                                     "detached. Check the disk the image is on. (%2)")
                                      .arg(kStallSeconds)
                                      .arg(error.details)});
    else
        m_prompts->runErrorAlert(error);
    setRunning(false);
    setCancelling(true);
    cleanup();
}

void Conversion::setRunning(bool running)
{
    m_running = running;
    emit runningChanged(running);
}

void Conversion::setCancelling(bool cancelling)
{
    emit cancellingChanged(cancelling);
}

// The status is logged in English, as every other line of the log is, so that
// a run's log reads in one language whatever the window's.
void Conversion::report(const char *status, const QString &argument, bool item)
{
    const auto filled = [&argument](const QString &text) {
        return argument.isNull() ? text : text.arg(argument);
    };
    if (!item && *status)
        Log::write(filled(QString::fromUtf8(status)));
    emit statusText(filled(tr(status)), item);
}

void Conversion::reportMilestone(float value)
{
    emit milestone(value);
}

void Conversion::beginMeasuring(StageDetail::Stage stage, qint64 total)
{
    // Each stage fills the stretch of the bar up to the next milestone; a
    // solid image shares the copy's stretch with its export.
    const bool exporting = m_layout.needsExport();
    float from = 0, to = 0;
    const bool stick = m_options.drive.has_value();
    switch (stage) {
    case StageDetail::Stage::Copy:
        from = 25, to = exporting ? 28 : 35;
        break;
    case StageDetail::Stage::Export:
        from = stick ? 35 : m_options.direct ? 25 : 28, to = m_options.direct ? 40 : 35;
        break;
    case StageDetail::Stage::Split:
        from = 40, to = stick ? 60 : 80;
        break;
    case StageDetail::Stage::Verify:
        from = stick ? 60 : 80, to = stick ? 63 : 82;
        break;
    case StageDetail::Stage::Stick:
        from = 25, to = 35;
        break;
    case StageDetail::Stage::Pieces:
        from = 63, to = 70;
        break;
    case StageDetail::Stage::Write:
        from = 70, to = 96;
        break;
    case StageDetail::Stage::ReadBack:
        from = 96, to = 99;
        break;
    case StageDetail::Stage::Build:
        from = 82, to = 90;
        break;
    case StageDetail::Stage::None:
        break;
    }
    m_meter.begin(stage, total, from, to);
    publishDetail();
    m_detailTimer.start();
}

void Conversion::endMeasuring()
{
    if (!m_meter.active())
        return;
    m_detailTimer.stop();
    m_meter.end();
    emit detailChanged(StageDetail());
}

void Conversion::watchForStall()
{
    if (!m_readingSource || !m_sourceAttached || m_sourceStalled) {
        m_quietSeconds = 0;
        return;
    }
    if (m_meter.done() != m_lastProgress) {
        m_lastProgress = m_meter.done();
        m_quietSeconds = 0;
        return;
    }
    // A stage that counts no bytes (the inspection) is only judged after a cancel.
    if (isRunning() && !m_meter.active())
        return;
    if (++m_quietSeconds < (isRunning() ? kStallSeconds : kCancelGraceSeconds))
        return;
    m_sourceStalled = true;
    Log::write(QStringLiteral("the source image does not answer; detaching it by force"));
    unmountSource(true, [](bool detached, const QString &reason) {
        if (!detached)
            Log::write(QStringLiteral("detaching the source image failed: %1").arg(reason));
    });
}

void Conversion::publishDetail()
{
    if (!m_meter.active())
        return;
    // The image builder tells its progress only now and then, and not at all
    // for a small image; the bytes it has written tell it all the time.
    if (m_meter.stage() == StageDetail::Stage::Build)
        m_meter.atLeast(std::min(QFileInfo(builtImage()).size(), m_layout.treeBytes));
    // mtools tells nothing while it copies; what the stick's image takes on
    // disk grows with every file.
    if (const qint64 base = m_stickBase.load();
        base >= 0 && (m_meter.stage() == StageDetail::Stage::Stick ||
                      m_meter.stage() == StageDetail::Stage::Pieces))
        m_meter.atLeast(std::min(FileSystem::allocatedBytes(m_stickImage) - base, m_stickTotal));
    emit detailChanged(m_meter.sample());
}

void Conversion::runTool(const QString &program, const QStringList &arguments, ToolRun::Done done)
{
    m_tool = new ToolRun(
        program, arguments,
        [this, done = std::move(done)](const ToolRun::Result &result) {
            m_mountDeadline.stop();
            if (m_tool)
                m_tool->deleteLater();
            m_tool = nullptr;
            done(result);
        },
        this);
}

void Conversion::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

QString Conversion::temporaryFolder() const
{
    // TMPDIR as given: a folder that does not exist must fail rather than send
    // the directory somewhere else.
    const QString folder = qEnvironmentVariable("TMPDIR");
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

Error Conversion::toolFailure(const QString &message, const QString &tool,
                              const QNTaskWrapperWithBlocks *runner, const QString &errorText,
                              const QString &folder) const
{
    const QString text = errorText.trimmed();
    if (text.contains(QLatin1String("No space left on device")))
        return {tr("There is no space left in “%1”.").arg(folder), text, ENOSPC};
    if (!text.isEmpty())
        return {message, text};
    return {message, QStringLiteral("%1 %2.").arg(tool, runner ? runner->terminationDescription()
                                                               : QStringLiteral("did not run"))};
}

void Conversion::unmountSource(bool force, std::function<void(bool, QString)> done, int attempt)
{
    QStringList arguments{QStringLiteral("unmount")};
    if (force)
        arguments << QStringLiteral("-force");
    arguments << m_mountPath;
    runTool(m_tools.hdiutil, arguments,
            [this, force, done = std::move(done), attempt](const ToolRun::Result &result) {
                if (result.status == 0) {
                    m_sourceAttached = false;
                    done(true, QString());
                } else if (attempt + 1 < kUnmountAttempts) {
                    // A file manager or an indexer may hold the volume for a moment.
                    QTimer::singleShot(kUnmountRetryMs, this, [this, force, done, attempt] {
                        unmountSource(force, done, attempt + 1);
                    });
                } else {
                    done(false, result.reason());
                }
            });
}
