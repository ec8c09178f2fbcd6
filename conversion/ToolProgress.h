#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Reading the progress reports the split and build tools print.
namespace ToolProgress {

// Output arrives in chunks of any size; reports end at a line feed or a
// carriage return (wimsplit redraws its line in place).
class Lines {
public:
    // The reports completed by this chunk; a partial one waits for the next.
    QStringList feed(const QString &chunk);

private:
    QString m_partial;
};

struct Bytes {
    qint64 done = 0;
    qint64 total = 0;
};

// wimsplit: "Splitting WIM: 1203 MiB of 4710 MiB (25%) written, part 1 of 3".
std::optional<Bytes> wimsplit(const QString &line);

// genisoimage, passed on by hdiutil makehybrid: " 12.34% done, estimate finish
// Sun Dec  6 21:10:01 2026". The percentage, 0 to 100.
std::optional<double> genisoimage(const QString &line);

} // namespace ToolProgress
