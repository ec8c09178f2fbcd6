#include "ProbeStep.h"

#include "Conversion.h"
#include "Log.h"
#include "StageDetail.h"
#include "StickProbe.h"

#include <cstring>

namespace {

std::optional<Error> refusal(const StickProbe::Result &result, const DriveFacts &drive)
{
    using StickProbe::Outcome;
    const QString name = drive.name();
    switch (result.outcome) {
    case Outcome::Holds:
    case Outcome::Cancelled:
        return std::nullopt;
    case Outcome::Smaller:
        return Error{
            Conversion::tr("“%1” seems to hold less than the %2 it claims. It may be "
                           "counterfeit or faulty; use another drive.")
                .arg(name, StageDetail::formatBytes(drive.size)),
            Conversion::tr("What was written at byte %1 did not read back.").arg(result.where),
            EIO};
    case Outcome::ReadOnly:
        return Error{Conversion::tr("“%1” refuses to be written.").arg(name),
                     Conversion::tr("Its write-protect switch may be on; turn it off, or use "
                                    "another drive."),
                     EROFS};
    case Outcome::Failed:
        break;
    }
    return Error{Conversion::tr("%1 could not be tested.").arg(name),
                 QString::fromLocal8Bit(std::strerror(result.error)), result.error};
}

} // namespace

void ProbeStep::run()
{
    context().report(QT_TRANSLATE_NOOP("Conversion", "Testing %1"), m_drive.facts.name());
    inBackground(
        [this, fd = m_drive.fd, size = m_drive.facts.size] {
            return StickProbe::probe(fd, size, [this] { return keepGoing(); });
        },
        [this](const StickProbe::Result &result) {
            // Whatever it found, the probe zeroed the tables at both ends.
            m_drive.erased = true;
            Log::write(QStringLiteral("probing %1: outcome %2 at %3")
                           .arg(m_drive.facts.device)
                           .arg(int(result.outcome))
                           .arg(result.where));
            finish(refusal(result, m_drive.facts));
        });
}
