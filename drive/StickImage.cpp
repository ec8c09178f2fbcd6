#include "StickImage.h"
#include "StickTools.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>

namespace StickImage {

namespace {

using namespace Tools;

struct StickText {
    Q_DECLARE_TR_FUNCTIONS(StickImage)
};

// Microsoft basic data: what Windows' own media tools give a FAT32 stick.
const char *const kBasicDataType = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

// mtools would change such a name without a word, or drop its characters
// beyond the 16-bit range of FAT's long names.
bool fitsFat(const QString &name)
{
    static const QString reserved = QStringLiteral("\"*/:<>?\\|");
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c.isSurrogate() || c.unicode() < 0x20 || reserved.contains(c);
    });
}

QString fatPath(const QString &relative)
{
    return QStringLiteral("::/") + relative;
}

std::optional<Error> copyFolder(const QString &image, const QString &source,
                                const QString &relative, const QStringList &excluded)
{
    const QDir folder(relative.isEmpty() ? source : source + QLatin1Char('/') + relative);
    QStringList batch;
    for (const QFileInfo &entry : folder.entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString path =
            relative.isEmpty() ? entry.fileName() : relative + QLatin1Char('/') + entry.fileName();
        if (!fitsFat(entry.fileName()))
            return Error{StickText::tr("The USB installer could not be built."),
                         StickText::tr("“%1” is a name FAT32 cannot hold.").arg(path)};
        if (excluded.contains(path))
            continue;
        const bool leadsToExcluded = std::any_of(excluded.begin(), excluded.end(), [&](auto &x) {
            return x.startsWith(path + QLatin1Char('/'));
        });
        if (!leadsToExcluded) {
            batch << entry.filePath();
            continue;
        }
        const Ran made =
            run(QStringLiteral("mmd"), {QStringLiteral("-i"), inside(image), fatPath(path)});
        if (!made.ok)
            return failed(made);
        if (auto error = copyFolder(image, source, path, excluded))
            return error;
    }
    if (batch.isEmpty())
        return std::nullopt;
    // Folders whole, times kept; a name FAT already has (it ignores case) is
    // given another rather than lost.
    const Ran copied = run(QStringLiteral("mcopy"),
                           QStringList{QStringLiteral("-s"), QStringLiteral("-m"),
                                       QStringLiteral("-Q"), QStringLiteral("-D"),
                                       QStringLiteral("a"), QStringLiteral("-i"), inside(image)} +
                               batch + QStringList{fatPath(relative)});
    return copied.ok ? tellPlaced() : std::optional<Error>(failed(copied));
}

} // namespace

QString fatLabel(const QString &volumeLabel)
{
    static const QString allowed = QStringLiteral("!#$%&'()-@^_`{}~ ");
    QString label;
    for (const QChar c : volumeLabel.toUpper()) {
        if (label.size() == 11)
            break;
        const bool plain = (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
                           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || allowed.contains(c);
        label += plain ? c : QLatin1Char('_');
    }
    label = label.trimmed();
    return label.isEmpty() ? QStringLiteral("WINDOWS") : label;
}

std::optional<Error> create(const QString &image, qint64 size, const QString &label,
                            const KeepGoing &keepGoing)
{
    const Going going(keepGoing);
    QFile file(image);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size)) {
        // A file system that cannot hold a file of the drive's size says EFBIG.
        const int error = errno ? errno : EIO;
        return Error{StickText::tr("The USB installer could not be built."),
                     image + QStringLiteral(": ") + file.errorString(), error};
    }
    file.close();
    const QByteArray table = QByteArrayLiteral("label: gpt\nstart=2048, type=") + kBasicDataType +
                             QByteArrayLiteral(", name=\"") + fatLabel(label).toUtf8() +
                             QByteArrayLiteral("\"\n");
    const Ran partitioned = run(QStringLiteral("sfdisk"),
                                {QStringLiteral("--quiet"), QStringLiteral("--no-reread"),
                                 QStringLiteral("--no-tell-kernel"), image},
                                table);
    if (!partitioned.ok)
        return failed(partitioned);
    // The partition's length as sfdisk laid it out (it keeps room for the
    // backup table at the end).
    const Ran dumped = run(QStringLiteral("sfdisk"), {QStringLiteral("--json"), image});
    const QJsonArray partitions = QJsonDocument::fromJson(dumped.out)
                                      .object()
                                      .value(QStringLiteral("partitiontable"))
                                      .toObject()
                                      .value(QStringLiteral("partitions"))
                                      .toArray();
    const qint64 sectors = partitions.at(0).toObject().value(QStringLiteral("size")).toInteger();
    if (!dumped.ok || sectors <= 0)
        return failed(dumped.ok ? Ran{false, {}, QStringLiteral("sfdisk: no partition")} : dumped);
    const Ran formatted = run(QStringLiteral("mformat"),
                              {QStringLiteral("-i"), inside(image), QStringLiteral("-F"),
                               QStringLiteral("-T"), QString::number(sectors), QStringLiteral("-H"),
                               QString::number(kPartitionOffset / 512), QStringLiteral("-h"),
                               QStringLiteral("255"), QStringLiteral("-s"), QStringLiteral("63"),
                               QStringLiteral("-v"), fatLabel(label), QStringLiteral("::")});
    return formatted.ok ? std::nullopt : std::optional<Error>(failed(formatted));
}

std::optional<Error> copyTree(const QString &image, const QString &source,
                              const QStringList &excluded, const KeepGoing &keepGoing,
                              const Placed &placed)
{
    const Going going(keepGoing, placed);
    return copyFolder(image, source, QString(), excluded);
}

std::optional<Error> copyFile(const QString &image, const QString &file, const QString &folder,
                              const KeepGoing &keepGoing, const Placed &placed)
{
    const Going going(keepGoing, placed);
    const Ran copied = run(QStringLiteral("mcopy"),
                           {QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("-Q"),
                            QStringLiteral("-D"), QStringLiteral("o"), QStringLiteral("-i"),
                            inside(image), file, QStringLiteral("::") + folder + QLatin1Char('/')});
    return copied.ok ? tellPlaced() : std::optional<Error>(failed(copied));
}

} // namespace StickImage
