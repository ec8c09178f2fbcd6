#include "SourceCheckStep.h"

#include "Leftovers.h"
#include "Log.h"

#include <QFileInfo>

void SourceCheckStep::run()
{
    inBackground(
        [request = m_request] {
            const QStringList removed = Leftovers::sweep(request.temporaryFolder);
            if (!removed.isEmpty())
                Log::write(QStringLiteral("removed what an earlier run left: %1")
                               .arg(removed.join(QStringLiteral(", "))));
            return SourceCheck::inspect(request);
        },
        [this](std::variant<SourceCheck::Layout, Error> result) { inspected(std::move(result)); },
        true);
}

void SourceCheckStep::inspected(std::variant<SourceCheck::Layout, Error> result)
{
    if (const Error *error = std::get_if<Error>(&result)) {
        finish(*error);
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
    finish(std::nullopt);
}
