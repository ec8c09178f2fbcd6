#include "ToolProgress.h"

#include <QRegularExpression>

namespace ToolProgress {

QStringList Lines::feed(const QString &chunk)
{
    static const QRegularExpression breaks(QStringLiteral("[\r\n]"));
    m_partial += chunk;
    QStringList lines = m_partial.split(breaks);
    m_partial = lines.takeLast();
    lines.removeAll(QString());
    return lines;
}

std::optional<Bytes> wimsplit(const QString &line)
{
    static const QRegularExpression report(
        QStringLiteral("(\\d+) ([KMGT]?i?B) of (\\d+) ([KMGT]?i?B) \\(\\d+%\\) written"));
    const QRegularExpressionMatch m = report.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    const auto bytes = [](const QString &number, const QString &unit) {
        static const QString units = QStringLiteral("KMGT");
        const qsizetype power = unit.size() > 1 ? units.indexOf(unit[0]) + 1 : 0;
        return number.toLongLong() << (10 * power);
    };
    return Bytes{bytes(m.captured(1), m.captured(2)), bytes(m.captured(3), m.captured(4))};
}

std::optional<double> genisoimage(const QString &line)
{
    static const QRegularExpression report(QStringLiteral("^\\s*(\\d+(?:\\.\\d+)?)% done"));
    const QRegularExpressionMatch m = report.match(line);
    if (!m.hasMatch())
        return std::nullopt;
    return std::min(m.captured(1).toDouble(), 100.0);
}

} // namespace ToolProgress
