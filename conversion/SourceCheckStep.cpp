#include "SourceCheckStep.h"

#include "Conversion.h"
#include "FileSystem.h"
#include "Leftovers.h"
#include "Log.h"
#include "TemporaryFolders.h"

#include <QFileInfo>

void SourceCheckStep::run()
{
    inBackground(
        [request = m_request] {
            QStringList removed;
            for (const QString &folder : TemporaryFolders::places(request.temporaryFolder))
                removed << Leftovers::sweep(folder);
            if (!removed.isEmpty())
                Log::write(QStringLiteral("removed what an earlier run left: %1")
                               .arg(removed.join(QStringLiteral(", "))));
            Found found{SourceCheck::inspect(request), std::nullopt};
            if (const auto *layout = std::get_if<SourceCheck::Layout>(&found.layout))
                found.shortage = SourceCheck::temporaryShortage(request, *layout);
            return found;
        },
        [this](Found found) { inspected(std::move(found)); }, true);
}

void SourceCheckStep::inspected(Found found)
{
    if (const Error *error = std::get_if<Error>(&found.layout)) {
        finish(*error);
        return;
    }
    m_layout = std::get<SourceCheck::Layout>(found.layout);
    QStringList editions;
    for (const WimImage::Edition &edition : m_layout.wim.editions)
        editions << edition.name;
    Log::write(QStringLiteral("%1: %2 edition(s) (%3), %4%5, %6 bytes")
                   .arg(QFileInfo(m_layout.imagePath).fileName())
                   .arg(m_layout.wim.editions.size())
                   .arg(editions.join(QStringLiteral(", ")), m_layout.wim.compressionName,
                        m_layout.wim.solid ? QStringLiteral(" solid") : QString())
                   .arg(m_layout.imageBytes));
    m_temporaryFolder = m_request.temporaryFolder;
    if (!found.shortage || !keepGoing()) {
        settled();
        return;
    }
    const SourceCheck::Shortage &shortage = *found.shortage;
    if (shortage.roomy.isEmpty()) {
        finish(shortage.error);
        return;
    }
    // The user may take the folder that has the room, for this run.
    if (!context().prompts()->runChoice(shortage.error.message, shortage.error.details,
                                        Conversion::tr("Use “%1”").arg(shortage.roomy))) {
        context().stopRunning(); // told already: no second alert
        end(StepEnd::stopped());
        return;
    }
    Log::write(QStringLiteral("temporary files go to %1 for this run").arg(shortage.roomy));
    m_temporaryFolder = shortage.roomy;
    settled();
}

// The stick's image gives back the space of what is on the drive already;
// where the folder's file system cannot, the room it needs was counted for
// the whole of it, and the user is told why.
void SourceCheckStep::settled()
{
    if (m_request.drive && !FileSystem::givesSpaceBack(m_temporaryFolder))
        emit context().notice(
            Conversion::tr("The file system of “%1” cannot give back the space of what is on the "
                           "drive already, so the whole USB installer is held there until it is "
                           "written.")
                .arg(m_temporaryFolder));
    finish(std::nullopt);
}
