#include "StageDetail.h"

#include <QCoreApplication>
#include <QLocale>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {
// The texts of the whole conversion core share one translation context.
struct ConversionText {
    Q_DECLARE_TR_FUNCTIONS(Conversion)
};
} // namespace

double StageDetail::fraction() const
{
    if (total <= 0)
        return 0;
    return std::clamp(double(done) / double(total), 0.0, 1.0);
}

QString StageDetail::summary() const
{
    if (stage == Stage::None)
        return {};
    QStringList parts;
    parts << (total > 0 ? ConversionText::tr("%1 of %2").arg(formatBytes(done), formatBytes(total))
                        : formatBytes(done));
    if (bytesPerSecond > 0)
        parts << ConversionText::tr("%1/s").arg(formatBytes(qint64(bytesPerSecond)));
    if (secondsLeft >= 0)
        parts << formatTimeLeft(secondsLeft);
    return parts.join(QStringLiteral(" · "));
}

QString StageDetail::formatBytes(qint64 bytes)
{
    // The units go through the translation: French writes "Mo" and "Go".
    static const char *const units[] = {
        QT_TRANSLATE_NOOP("Conversion", "%1 kB"), QT_TRANSLATE_NOOP("Conversion", "%1 MB"),
        QT_TRANSLATE_NOOP("Conversion", "%1 GB"), QT_TRANSLATE_NOOP("Conversion", "%1 TB")};
    if (bytes < 1000)
        return bytes == 1 ? ConversionText::tr("1 byte")
                          : ConversionText::tr("%1 bytes").arg(bytes);
    double value = double(bytes);
    int unit = -1;
    while (value >= 999.95 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    // Three significant figures at most: "1.4 GB", "31.2 MB", "310 MB".
    const int decimals = value >= 100 ? 0 : 1;
    return ConversionText::tr(units[unit]).arg(QLocale().toString(value, 'f', decimals));
}

QString StageDetail::formatTimeLeft(int seconds)
{
    if (seconds < 60)
        return ConversionText::tr("about %1 s left").arg(std::max(seconds, 1));
    const int minutes = int(std::lround(seconds / 60.0));
    if (minutes < 60)
        return ConversionText::tr("about %1 min left").arg(minutes);
    return ConversionText::tr("about %1 h %2 min left").arg(minutes / 60).arg(minutes % 60);
}
