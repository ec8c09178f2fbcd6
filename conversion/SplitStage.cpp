#include "Bundle.h"
#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "ToolProgress.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>
#include <memory>

namespace {

// FAT32 cannot hold a file of 4 GiB or more.
constexpr qint64 kFat32FileLimit = 4LL * 1024 * 1024 * 1024;

QString nullable(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

} // namespace

QString Conversion::sourcesFolder() const
{
    return PathName::join(m_stagingFolder, QFileInfo(m_layout.sourcesFolder).fileName());
}

// The staging copy is complete: unmount the source, then split install.wim.
void Conversion::copyFilesDone()
{
    reportMilestone(35);
    Log::write(QStringLiteral("unmounting ISO"));
    report(QT_TR_NOOP("Unmounting ISO"));
    unmountSource(false, [this](bool unmounted, const QString &reason) {
        if (!unmounted)
            Log::write(
                QStringLiteral("unmounting ISO failed (%1); cleanup will detach it").arg(reason));
        reportMilestone(40);
        if (!isRunning()) {
            cleanup();
            return;
        }
        const QString sources = sourcesFolder();
        if (std::optional<Error> error = FileSystem::setPosixPermissions(sources, 0777)) {
            fail(*error);
            return;
        }
        const auto wim = FileSystem::childIgnoringCase(sources, QStringLiteral("install.wim"));
        if (!wim || !QFileInfo(*wim).isFile()) {
            fail(Error::fromErrno(ENOENT, PathName::join(sources, QStringLiteral("install.wim")),
                                  tr("found")));
            return;
        }
        m_splitSource = *wim;
        m_piecesFolder = sources;
        splitStart();
    });
}

void Conversion::splitStart()
{
    const std::optional<QString> tool =
        Bundle::pathForResource(QStringLiteral("wimsplit"), QString(), QStringLiteral("tools/bin"));
    if (!tool) {
        fail({tr("The split tool “wimsplit” is missing."), Bundle::resourcesPath()});
        return;
    }
    const QPointer<Conversion> self(this);
    auto lines = std::make_shared<ToolProgress::Lines>();
    m_toolErrors.clear();
    auto *runner = new QNTaskWrapperWithBlocks(
        [self, total = QFileInfo(m_splitSource).size()] {
            if (!self)
                return;
            self->report(QT_TR_NOOP("Splitting install.wim"));
            self->beginMeasuring(StageDetail::Stage::Split, total);
        },
        [self] {
            if (self)
                self->splitEnded();
        },
        [self, lines](const QString &text) {
            Log::write(QStringLiteral("output:%1").arg(nullable(text)));
            for (const QString &line : lines->feed(text)) {
                if (const auto bytes = ToolProgress::wimsplit(line); bytes && self)
                    self->m_meter.set(bytes->done, bytes->total);
            }
        },
        [self](const QString &text) {
            Log::write(QStringLiteral("error: %1").arg(nullable(text)));
            if (self)
                self->m_toolErrors += text;
        },
        {*tool, m_splitSource, PathName::join(m_piecesFolder, QStringLiteral("install.swm")),
         QStringLiteral("2048")},
        this);
    m_splitRunner = runner;
    emit splitRunnerStarted(runner);
    m_readingSource = m_options.direct && !m_layout.needsExport();
    runner->startProcess();
}

void Conversion::splitEnded()
{
    m_readingSource = false;
    endMeasuring();
    if (!isRunning()) {
        cleanup();
        return;
    }
    // A split counts only when wimsplit says so and its pieces are there, each
    // small enough for FAT32.
    const int status = m_splitRunner ? m_splitRunner->terminationStatus() : -1;
    if (status != 0) {
        fail(toolFailure(tr("install.wim could not be split."), QStringLiteral("wimsplit"),
                         m_splitRunner, m_toolErrors, temporaryFolder()));
        return;
    }
    if (std::optional<Error> error = checkPieces()) {
        fail(*error);
        return;
    }
    reportMilestone(m_options.drive ? 60 : 80);
    if (m_options.direct && !m_layout.needsExport()) {
        verifyStage(); // the image split lies on the mount; nothing to remove
        return;
    }
    Log::write(QStringLiteral("removing install.wim"));
    inBackground([wim = m_splitSource] { return FileSystem::removeItem(wim); },
                 [this](std::optional<Error> error) {
                     if (error && isRunning())
                         fail(*error);
                     else if (!isRunning())
                         cleanup();
                     else
                         verifyStage();
                 });
}

std::optional<Error> Conversion::checkPieces() const
{
    const QString first = PathName::join(m_piecesFolder, QStringLiteral("install.swm"));
    if (!QFileInfo(first).isFile())
        return Error{tr("install.wim could not be split."),
                     tr("wimsplit ended without writing %1.").arg(first)};
    static const QRegularExpression piece(QStringLiteral("^install[0-9]*\\.swm$"),
                                          QRegularExpression::CaseInsensitiveOption);
    for (const QFileInfo &entry : QDir(m_piecesFolder).entryInfoList(QDir::Files)) {
        if (piece.match(entry.fileName()).hasMatch() && entry.size() >= kFat32FileLimit)
            return Error{tr("A piece of the split image is too large for FAT32."),
                         tr("%1 holds %2 bytes; FAT32 holds files below 4 GiB. The image "
                            "contains a single resource larger than that, which cannot be "
                            "split.")
                             .arg(entry.fileName())
                             .arg(entry.size())};
    }
    return std::nullopt;
}

// The pieces are read back and every resource checked while the new image is
// built from them, on two cores at once; the image takes the destination's
// place only once the pieces have passed, so none is ever made from a broken set.
void Conversion::verifyStage()
{
    report(QT_TR_NOOP("Verifying install.swm"));
    m_verification.reset();
    m_verifier =
        std::thread([this, first = PathName::join(m_piecesFolder, QStringLiteral("install.swm"))] {
            const WimImage::Result result =
                WimImage::verifySplitSet(first, [this](quint64 done, quint64 total) {
                    if (m_showingVerification)
                        m_meter.set(qint64(done), qint64(total));
                    return isRunning();
                });
            QMetaObject::invokeMethod(
                this, [this, result] { verified(result); }, Qt::QueuedConnection);
        });
    if (!m_options.drive) {
        startBuild();
        return;
    }
    // A USB installer takes the pieces once they have passed.
    beginMeasuring(StageDetail::Stage::Verify, 0);
    m_showingVerification = true;
}

void Conversion::verified(const WimImage::Result &result)
{
    joinVerifier();
    m_verification = result;
    // With no build beside it, the verification's end is the stage's end.
    if (m_options.drive && !m_cleaningUp && !isRunning()) {
        cleanup();
        return;
    }
    if (m_cleaningUp || !isRunning() || result.outcome == WimImage::Outcome::Cancelled)
        return;
    if (result.outcome == WimImage::Outcome::Failed) {
        // The build of a broken set goes; its end reports the reason.
        m_pendingFailure = result.error;
        if (m_buildRunner && m_buildRunner->isProcessRunning())
            m_buildRunner->stopProcess();
        else
            fail(*std::exchange(m_pendingFailure, std::nullopt));
        return;
    }
    if (m_options.drive)
        stickPiecesStage();
    else if (m_buildFinished)
        publish();
}

void Conversion::joinVerifier()
{
    if (m_verifier.joinable())
        m_verifier.join();
}
