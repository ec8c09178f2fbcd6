#include "Conversion.h"
#include "Log.h"

#include <QFileInfo>

// Looks at the mounted source before anything is copied: which Windows image
// it carries, in what shape, and whether the temporary folder and the
// destination can take the conversion. Runs off the main thread; it also
// clears what runs that died have left behind.
void Conversion::inspectStage()
{
    const SourceCheck::Request request{m_options.source, m_mountPath, m_options.destination,
                                       temporaryFolder(), m_options.direct,
                                       m_options.drive.has_value()};
    m_readingSource = true;
    inBackground(
        [request] {
            const QStringList removed = Leftovers::sweep(request.temporaryFolder);
            if (!removed.isEmpty())
                Log::write(QStringLiteral("removed what an earlier run left: %1")
                               .arg(removed.join(QStringLiteral(", "))));
            return SourceCheck::inspect(request);
        },
        [this](std::variant<SourceCheck::Layout, Error> result) { inspected(std::move(result)); });
}

void Conversion::inspected(std::variant<SourceCheck::Layout, Error> result)
{
    if (const Error *error = std::get_if<Error>(&result)) {
        if (isRunning())
            fail(*error);
        else
            cleanup();
        return;
    }
    m_layout = std::get<SourceCheck::Layout>(result);
    QStringList editions;
    for (const WimImage::Edition &edition : m_layout.wim.editions)
        editions << edition.name;
    Log::write(QStringLiteral("%1: %2 edition(s) (%3), %4%5, %6 bytes")
                   .arg(QFileInfo(m_layout.imagePath).fileName())
                   .arg(m_layout.wim.editions.size())
                   .arg(editions.join(QStringLiteral(", ")), m_layout.wim.compressionName,
                        m_layout.wim.solid ? QStringLiteral(" solid") : QString())
                   .arg(m_layout.imageBytes));
    if (!isRunning()) {
        cleanup();
        return;
    }
    if (m_options.drive)
        openDriveStage();
    else
        stagingStart();
}
