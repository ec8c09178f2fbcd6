#include "SplitStep.h"

#include "Bundle.h"
#include "Conversion.h"
#include "FileSystem.h"
#include "PathName.h"
#include "RunContext.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>

namespace {
// FAT32 cannot hold a file of 4 GiB or more.
constexpr qint64 kFat32FileLimit = 4LL * 1024 * 1024 * 1024;
} // namespace

void SplitStep::run()
{
    const std::optional<QString> tool =
        Bundle::pathForResource(QStringLiteral("wimsplit"), QString(), QStringLiteral("tools/bin"));
    if (!tool) {
        finish(Error{Conversion::tr("The split tool “wimsplit” is missing."),
                     Bundle::resourcesPath()});
        return;
    }
    QDir().mkpath(m_split.folder);
    launch({QStringLiteral("wimsplit"),
            {*tool, m_split.source, m_split.first(), QStringLiteral("2048")},
            QT_TRANSLATE_NOOP("Conversion", "Splitting install.wim"),
            StageDetail::Stage::Split,
            QFileInfo(m_split.source).size(),
            Conversion::tr("install.wim could not be split."),
            m_temporaryFolder,
            m_split.sourceOnMount,
            QStringLiteral("error: %1"),
            {}});
}

void SplitStep::outputLine(const QString &line)
{
    if (const auto bytes = ToolProgress::wimsplit(line))
        context().meter().set(bytes->done, bytes->total);
    static const QRegularExpression part(QStringLiteral(", part (\\d+) of \\d+"));
    const int now = part.match(line).captured(1).toInt();
    for (; m_pieceDone && m_part < now && !m_pieceError; ++m_part) {
        const QString piece = m_part == 1 ? m_split.first()
                                          : PathName::join(m_split.folder,
                                                           QStringLiteral("install%1.swm").arg(m_part));
        m_pieceError = m_pieceDone(piece);
    }
    if (m_pieceError)
        stop(); // the rest would be made for nothing
}

Error SplitStep::failure() const
{
    return m_pieceError ? *m_pieceError : ToolStep::failure();
}

void SplitStep::started(QNTaskWrapperWithBlocks *runner)
{
    emit context().splitRunnerStarted(runner);
}

std::optional<Error> SplitStep::checkOutput()
{
    if (m_pieceError)
        return m_pieceError;
    if (!QFileInfo(m_split.first()).isFile())
        return Error{Conversion::tr("install.wim could not be split."),
                     Conversion::tr("wimsplit ended without writing %1.").arg(m_split.first())};
    for (const QString &piece : m_split.pieces()) {
        const qint64 size = QFileInfo(PathName::join(m_split.folder, piece)).size();
        if (size >= kFat32FileLimit)
            return Error{Conversion::tr("A piece of the split image is too large for FAT32."),
                         Conversion::tr("%1 holds %2 bytes; FAT32 holds files below 4 GiB. The "
                                        "image contains a single resource larger than that, "
                                        "which cannot be split.")
                             .arg(piece)
                             .arg(size)};
    }
    return std::nullopt;
}

void StagedSourcesStep::run()
{
    if (std::optional<Error> error = FileSystem::setPosixPermissions(m_sources, 0777)) {
        finish(error);
        return;
    }
    const auto wim = FileSystem::childIgnoringCase(m_sources, QStringLiteral("install.wim"));
    if (!wim || !QFileInfo(*wim).isFile()) {
        finish(Error::fromErrno(ENOENT, PathName::join(m_sources, QStringLiteral("install.wim")),
                                Conversion::tr("found")));
        return;
    }
    m_split = {*wim, m_sources, false};
    finish(std::nullopt);
}
