#include "BootImages.h"
#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "ToolProgress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

QString nullable(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

} // namespace

// With the option, the source's boot entries are found again in the tree the
// new image is built from (off the main thread: it reads files); a source that
// cannot give them is built without them, and the user is told.
void Conversion::startBuild()
{
    if (!m_options.bootable) {
        launchBuild({});
        return;
    }
    inBackground(
        [source = m_options.source, tree = m_options.direct ? m_mountPath : m_stagingFolder] {
            return BootImages::plan(source, tree);
        },
        [this](BootImages::Plan plan) {
            if (!isRunning()) {
                cleanup();
                return;
            }
            if (!plan.notice.isEmpty()) {
                Log::write(QStringLiteral("no boot records: %1").arg(plan.notice));
                emit notice(tr("The new image will not boot: %1").arg(plan.notice));
            }
            launchBuild(plan.arguments);
        });
}

// The new image is written into a folder of its own beside the destination
// and takes the destination's place only once it is complete, so an existing
// file there stays as it was until then.
void Conversion::launchBuild(const QStringList &bootArguments)
{
    QTemporaryDir partial(Leftovers::partialTemplate(m_options.destination));
    if (!partial.isValid()) {
        fail({tr("The new image cannot be written beside “%1”.")
                  .arg(QFileInfo(m_options.destination).fileName()),
              partial.errorString()});
        return;
    }
    partial.setAutoRemove(false);
    m_partialFolder = partial.path();
    m_marker.recordPartial(m_partialFolder);

    const QPointer<Conversion> self(this);
    auto lines = std::make_shared<ToolProgress::Lines>();
    const qint64 expected = m_layout.treeBytes;
    const auto log = [](const QString &text) {
        Log::write(QStringLiteral("output:%1").arg(nullable(text)));
    };
    m_toolErrors.clear();
    auto *runner = new QNTaskWrapperWithBlocks(
        [self, expected] {
            if (!self)
                return;
            self->report(QT_TR_NOOP("Creating ISO"));
            self->beginMeasuring(StageDetail::Stage::Build, expected);
        },
        [self] {
            if (self)
                self->buildEnded();
        },
        [self, lines, log, expected](const QString &text) {
            log(text);
            for (const QString &line : lines->feed(text)) {
                if (const auto percent = ToolProgress::genisoimage(line); percent && self)
                    self->m_meter.atLeast(qint64(*percent / 100.0 * double(expected)));
            }
        },
        [self, log](const QString &text) {
            log(text);
            if (self)
                self->m_toolErrors += text;
        },
        buildArguments(PathName::join(m_partialFolder, QFileInfo(m_options.destination).fileName()),
                       bootArguments),
        this);
    m_buildRunner = runner;
    emit buildRunnerStarted(runner);
    m_readingSource = m_options.direct;
    runner->startProcess();
}

QStringList Conversion::buildArguments(const QString &output,
                                       const QStringList &bootArguments) const
{
    QStringList arguments{m_tools.hdiutil,        QStringLiteral("makehybrid"),
                          QStringLiteral("-iso"), QStringLiteral("-udf"),
                          QStringLiteral("-o"),   output};
    arguments << bootArguments;
    if (!m_options.direct) {
        arguments << m_stagingFolder;
        return arguments;
    }
    // From the mount: the Windows image is left out and the pieces take its place.
    const QString sources = QFileInfo(m_layout.sourcesFolder).fileName();
    arguments << QStringLiteral("-exclude")
              << sources + QLatin1Char('/') + QFileInfo(m_layout.imagePath).fileName();
    const QStringList pieces =
        QDir(m_piecesFolder).entryList({QStringLiteral("install*.swm")}, QDir::Files, QDir::Name);
    for (const QString &piece : pieces)
        arguments << QStringLiteral("-graft")
                  << sources + QLatin1Char('/') + piece + QLatin1Char('=') +
                         PathName::join(m_piecesFolder, piece);
    arguments << m_mountPath;
    return arguments;
}

void Conversion::buildEnded()
{
    m_readingSource = false;
    endMeasuring();
    if (m_pendingFailure) {
        fail(*std::exchange(m_pendingFailure, std::nullopt));
        return;
    }
    if (!isRunning()) {
        cleanup();
        return;
    }
    const int status = m_buildRunner ? m_buildRunner->terminationStatus() : -1;
    if (status != 0 || QFileInfo(builtImage()).size() <= 0) {
        fail(toolFailure(tr("The new ISO could not be created."),
                         QStringLiteral("hdiutil makehybrid"), m_buildRunner, m_toolErrors,
                         QFileInfo(m_options.destination).absolutePath()));
        return;
    }
    m_buildFinished = true;
    if (m_verification) {
        publish();
        return;
    }
    // The pieces are still being read back.
    report(QT_TR_NOOP("Verifying install.swm"));
    beginMeasuring(StageDetail::Stage::Verify, 0);
    m_showingVerification = true;
}

QString Conversion::builtImage() const
{
    return PathName::join(m_partialFolder, QFileInfo(m_options.destination).fileName());
}

// Only a complete image from verified pieces takes the destination's place,
// in one step.
void Conversion::publish()
{
    m_showingVerification = false;
    endMeasuring();
    const QString &destination = m_options.destination;
    const bool replace =
        m_options.replaceAnything ||
        (m_options.replaces && FileSystem::identityOf(destination) == m_options.replaces);
    const int err = replace ? (::rename(QFile::encodeName(builtImage()).constData(),
                                        QFile::encodeName(destination).constData()) == 0
                                   ? 0
                                   : errno)
                            : FileSystem::renameWithoutReplacing(builtImage(), destination);
    if (err == EEXIST) {
        fail({tr("“%1” already exists.").arg(QFileInfo(destination).fileName()),
              tr("It appeared in “%1” while the new image was being made, and was left as it "
                 "is. Choose another name, or replace it.")
                  .arg(QFileInfo(destination).absolutePath()),
              err});
        return;
    }
    if (err != 0) {
        fail(Error::fromErrno(err, destination, tr("saved")));
        return;
    }
    m_outcome = Outcome::Succeeded;
    const auto finishing = [this] {
        setRunning(false);
        reportMilestone(90);
        cleanup([this] {
            m_prompts->runAlert(tr("ISO creation completed"),
                                tr("The ISO has been completed successfully. Use it with Boot "
                                   "Camp Assistant to install Windows 10."));
        });
    };
    if (!m_options.direct) {
        finishing();
        return;
    }
    // The direct path built from the mount, so only now can it go.
    unmountSource(false, [finishing](bool, const QString &) { finishing(); });
}
