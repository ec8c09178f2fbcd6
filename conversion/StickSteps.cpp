#include "StickSteps.h"

#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "StickImage.h"

#include <QDir>
#include <QFileInfo>

void StickFillStep::measureImage(StageDetail::Stage stage, qint64 total)
{
    measure(stage, total, [this, total](ProgressMeter &meter) {
        if (const qint64 base = m_base.load(); base >= 0)
            meter.atLeast(std::min(FileSystem::allocatedBytes(m_image) - base, total));
    });
}

void StickFillStep::filled(const std::optional<Error> &error)
{
    context().endMeasuring();
    finish(error ? std::optional(fullDiskNamed(*error, m_temporaryFolder)) : error);
}

namespace {

// The source's files, with Windows Setup's adjusted ones in place of its own.
std::optional<Error> copyTree(const QString &image, const StickTreeStep::Input &input,
                              const StickImage::KeepGoing &going)
{
    const SetupPlan *setup = input.setup;
    const QStringList excluded =
        QStringList{input.excluded} + (setup ? setup->replaced : QStringList());
    if (std::optional<Error> error = StickImage::copyTree(image, input.mountPath, excluded, going))
        return error;
    for (const QString &file : setup ? setup->files() : QStringList()) {
        const QString folder = QLatin1Char('/') + QFileInfo(file).path();
        if (auto error =
                StickImage::copyFile(image, PathName::join(setup->overlay, file), folder, going))
            return error;
    }
    return std::nullopt;
}

} // namespace

StickTreeStep::StickTreeStep(Input input, QString &image)
    : StickFillStep(image, input.temporaryFolder), m_input(std::move(input))
{
    image = PathName::join(m_input.workFolder, QStringLiteral("stick.img"));
}

void StickTreeStep::run()
{
    Log::write(QStringLiteral("building the USB installer in %1").arg(m_image));
    context().report(QT_TRANSLATE_NOOP("Conversion", "Copying files to the USB installer"));
    measureImage(StageDetail::Stage::Stick, m_input.bytes);
    const StickImage::KeepGoing going = [this] { return keepGoing(); };
    inBackground([image = m_image, size = m_input.size,
                  label = PathName::lastComponent(m_input.mountPath),
                  going] { return StickImage::create(image, size, label, going); },
                 [this, going](std::optional<Error> error) {
                     if (error || !context().running()) {
                         filled(error);
                         return;
                     }
                     m_base = FileSystem::allocatedBytes(m_image);
                     inBackground([image = m_image, input = m_input,
                                   going] { return copyTree(image, input, going); },
                                  [this](std::optional<Error> error) { filled(error); }, true);
                 });
}

void StickPiecesStep::run()
{
    const QStringList pieces = m_split.pieces();
    qint64 total = 0;
    for (const QString &piece : pieces)
        total += QFileInfo(PathName::join(m_split.folder, piece)).size();
    m_base = FileSystem::allocatedBytes(m_image);
    context().report(QT_TRANSLATE_NOOP("Conversion", "Copying install.swm to the USB installer"));
    measureImage(StageDetail::Stage::Pieces, total);
    inBackground(
        [this, pieces, folder = m_split.folder, image = m_image,
         sources = QLatin1Char('/') + m_sourcesName]() -> std::optional<Error> {
            const StickImage::KeepGoing going = [this] { return keepGoing(); };
            for (const QString &piece : pieces) {
                const QString path = PathName::join(folder, piece);
                Log::write(QStringLiteral("adding %1 to the USB installer").arg(piece));
                if (std::optional<Error> error = StickImage::copyFile(image, path, sources, going))
                    return error;
                if (std::optional<Error> error = FileSystem::removeItem(path))
                    return error;
            }
            return std::nullopt;
        },
        [this](std::optional<Error> error) { filled(error); });
}
