#include "StickSteps.h"

#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "StickStream.h"

#include <QFileInfo>
#include <QThread>

StickImage::Placed StickFillStep::placed() const
{
    return [stream = m_out.stream] { return stream->placed(); };
}

void StickFillStep::filled(const std::optional<Error> &error)
{
    // The drive's own failure is told as it is, not as the temporary folder's.
    const bool drives = error && m_out.stream && m_out.stream->failure();
    finish(error && !drives ? std::optional(fullDiskNamed(*error, m_out.temporaryFolder))
                            : error);
}

namespace {

// The source's files, with Windows Setup's adjusted ones in place of its own.
std::optional<Error> copyTree(const QString &image, const StickTreeStep::Input &input,
                              const StickImage::KeepGoing &going, const StickImage::Placed &placed)
{
    const SetupPlan *setup = input.setup;
    const QStringList excluded =
        QStringList{input.excluded} + (setup ? setup->replaced : QStringList());
    if (auto error = StickImage::copyTree(image, input.mountPath, excluded, going, placed))
        return error;
    for (const QString &file : setup ? setup->files() : QStringList()) {
        const QString folder = QLatin1Char('/') + QFileInfo(file).path();
        if (auto error = StickImage::copyFile(image, PathName::join(setup->overlay, file), folder,
                                              going, placed))
            return error;
    }
    return std::nullopt;
}

// Stops the stream when the run ends, whichever way; the drive is closed
// only once its writer has let go of it, which may take a chunk's time.
void stopAtTheEnd(RunContext &context, std::shared_ptr<StickStream> &stream)
{
    context.teardown().push([&context, &stream](std::function<void()> next) {
        context.holdBar(false);
        context.endMeasuring();
        if (!stream) {
            next();
            return;
        }
        stream->stop();
        QThread *thread = QThread::create([s = std::move(stream)]() mutable { s.reset(); });
        QObject::connect(thread, &QThread::finished, thread, [thread, next] {
            thread->deleteLater();
            next();
        });
        thread->start();
    });
}

} // namespace

StickTreeStep::StickTreeStep(Input input, StickOutput out)
    : StickFillStep(std::move(out)), m_input(std::move(input))
{
    m_out.image = PathName::join(m_input.workFolder, QStringLiteral("stick.img"));
}

void StickTreeStep::run()
{
    Log::write(QStringLiteral("building the USB installer in %1 as it is written to %2")
                   .arg(m_out.image, m_out.drive.facts.device));
    context().report(QT_TRANSLATE_NOOP("Conversion", "Copying files to the USB installer"));
    inBackground(
        [image = m_out.image, size = m_out.drive.facts.size, fd = m_out.drive.fd,
         label = PathName::lastComponent(m_input.mountPath),
         going = StickImage::KeepGoing([this] { return keepGoing(); })]() -> Opened {
            if (std::optional<Error> error = StickImage::create(image, size, label, going))
                return *error;
            auto opened = StickStream::open(image, fd);
            if (Error *error = std::get_if<Error>(&opened))
                return *error;
            return std::shared_ptr<StickStream>(
                std::move(std::get<std::unique_ptr<StickStream>>(opened)));
        },
        [this](Opened result) { opened(std::move(result)); });
}

void StickTreeStep::opened(Opened result)
{
    if (const Error *error = std::get_if<Error>(&result)) {
        filled(*error);
        return;
    }
    m_out.stream = std::get<std::shared_ptr<StickStream>>(result);
    // From now on the drive has been written to: its tables are gone.
    m_out.drive.erased = true;
    stopAtTheEnd(context(), m_out.stream);
    followTheDrive(m_input.bytes + m_out.stream->overheadBytes());
    inBackground([image = m_out.image, input = m_input,
                  going = StickImage::KeepGoing([this] { return keepGoing(); }),
                  placed = placed()] { return copyTree(image, input, going, placed); },
                 [this](std::optional<Error> error) { filled(error); }, true);
}

// The bar shows the bytes on the drive, and the status line the file it is
// taking, until the read-back.
void StickTreeStep::followTheDrive(qint64 total)
{
    measure(StageDetail::Stage::Write, total,
            [&context = context(), stream = m_out.stream, total, image = m_out.image,
             base = FileSystem::allocatedBytes(m_out.image),
             name = std::make_shared<QString>()](ProgressMeter &meter) {
                meter.atLeast(std::min(stream->written(), total));
                // The copy's own count, which the stall watch follows: what
                // the image took, and what of it went on to the drive.
                if (ProgressMeter &copy = context.meter(); copy.stage() == StageDetail::Stage::Stick)
                    copy.atLeast(FileSystem::allocatedBytes(image) - base + stream->written());
                const QString now = PathName::lastComponent(stream->writing());
                if (now.isEmpty() || now == *name)
                    return;
                *name = now;
                context.report(QT_TRANSLATE_NOOP("Conversion", "writing %1"), now, true);
            });
    context().holdBar(true);
    context().measure(StageDetail::Stage::Stick, m_input.bytes, {});
}

void StickPiecesStep::run()
{
    context().report(QT_TRANSLATE_NOOP("Conversion", "Copying install.swm to the USB installer"));
    inBackground(
        [pieces = m_split.pieces(), folder = m_split.folder, sources = m_sourcesName,
         stream = m_out.stream]() -> std::optional<Error> {
            // Those wimsplit finished before its last are in place already.
            for (const QString &piece : pieces) {
                Log::write(QStringLiteral("placing %1 on the USB installer").arg(piece));
                if (auto error = stream->placeFile(sources, PathName::join(folder, piece)))
                    return error;
            }
            return std::nullopt;
        },
        [this](std::optional<Error> error) { filled(error); });
}
