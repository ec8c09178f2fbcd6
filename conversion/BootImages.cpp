#include "BootImages.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <optional>

namespace BootImages {

namespace {

using ElTorito::Entry;

constexpr qint64 kSector = 2048;
// Boot images are small; anything larger is not worth reading to compare.
constexpr qint64 kLargestImage = 64 << 20;
constexpr qint64 kChunk = 1 << 20;

const char *const kWindowsImages[] = {"boot/etfsboot.com", "efi/microsoft/boot/efisys.bin",
                                      "efi/microsoft/boot/efisys_noprompt.bin"};

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(BootImages)
};

Plan withoutBootRecords(const QString &why)
{
    return {{}, Texts::tr("%1; the new image is built without boot records.").arg(why)};
}

QString describe(const Entry &entry, qsizetype index)
{
    return Texts::tr("boot entry %1 (%2)")
        .arg(index + 1)
        .arg(QString::fromStdString(ElTorito::platformName(entry.platform)));
}

// Whether the file holds exactly the bytes the source image has from the
// entry's first sector on, the first sector compared before the rest.
bool holdsImage(QFile &iso, const Entry &entry, const QByteArray &firstSector, const QString &path)
{
    const qint64 size = QFileInfo(path).size();
    if (size <= 0 || size > kLargestImage || qint64(entry.loadRba) * kSector + size > iso.size())
        return false;
    // genisoimage picks the floppy type from the file's size.
    if (entry.emulation != ElTorito::Emulation::None &&
        entry.emulation != ElTorito::Emulation::HardDisk &&
        quint64(size) != ElTorito::loadedBytes(entry))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.read(kSector) != firstSector.left(size))
        return false;
    if (!iso.seek(qint64(entry.loadRba) * kSector + kSector))
        return false;
    for (qint64 left = size - kSector; left > 0; left -= kChunk) {
        const QByteArray wanted = iso.read(qMin(left, kChunk));
        if (wanted.isEmpty() || file.read(wanted.size()) != wanted)
            return false;
    }
    return true;
}

// The path relative to `tree` of a file holding the entry's image.
std::optional<QString> findImageFile(QFile &iso, const Entry &entry, const QString &tree)
{
    if (!iso.seek(qint64(entry.loadRba) * kSector))
        return std::nullopt;
    const QByteArray firstSector = iso.read(kSector);
    for (const char *known : kWindowsImages) {
        if (holdsImage(iso, entry, firstSector, tree + '/' + known))
            return QString::fromLatin1(known);
    }
    QDirIterator it(tree, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (holdsImage(iso, entry, firstSector, path))
            return path.mid(tree.size() + 1);
    }
    return std::nullopt;
}

QStringList argumentsFor(const Entry &entry, const QString &file)
{
    QStringList arguments{QStringLiteral("-eltorito-boot"), file};
    if (entry.emulation == ElTorito::Emulation::None) {
        arguments << QStringLiteral("-no-emul-boot");
        if (entry.sectorCount > 0)
            arguments << QStringLiteral("-boot-load-size") << QString::number(entry.sectorCount);
    } else if (entry.emulation == ElTorito::Emulation::HardDisk) {
        arguments << QStringLiteral("-hard-disk-boot");
    }
    arguments << QStringLiteral("-eltorito-platform")
              << QString::fromLatin1(entry.platform == ElTorito::kPlatformEfi ? "efi" : "x86");
    return arguments;
}

// Why the build cannot write the entry as it is, or nothing.
std::optional<QString> unsupported(const Entry &entry, qsizetype index)
{
    if (entry.platform != ElTorito::kPlatformX86 && entry.platform != ElTorito::kPlatformEfi)
        return Texts::tr("The source's %1 is for a platform the build cannot write")
            .arg(describe(entry, index));
    if (entry.loadSegment != 0)
        return Texts::tr("The source's %1 loads at segment 0x%2, which the build cannot set")
            .arg(describe(entry, index))
            .arg(entry.loadSegment, 4, 16, QLatin1Char('0'));
    return std::nullopt;
}

} // namespace

Plan plan(const QString &sourceIso, const QString &tree)
{
    return plan(sourceIso, ElTorito::readCatalog(QFile::encodeName(sourceIso).toStdString()), tree);
}

Plan plan(const QString &sourceIso, const ElTorito::CatalogReading &source, const QString &tree)
{
    if (source.outcome == ElTorito::Outcome::NoBootRecord)
        return withoutBootRecords(Texts::tr("The source image has no boot records"));
    if (source.outcome == ElTorito::Outcome::Unreadable)
        return withoutBootRecords(Texts::tr("The source image's boot catalog cannot be read (%1)")
                                      .arg(QString::fromStdString(source.error)));
    const std::vector<Entry> &entries = source.catalog.entries;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].bootable)
            if (const std::optional<QString> why = unsupported(entries[i], qsizetype(i)))
                return withoutBootRecords(*why);
    }
    QFile iso(sourceIso);
    if (!iso.open(QIODevice::ReadOnly))
        return withoutBootRecords(
            Texts::tr("The source image cannot be read (%1)").arg(iso.errorString()));
    Plan made;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        // An entry marked not bootable boots nothing; it is not carried over.
        if (!entries[i].bootable)
            continue;
        const std::optional<QString> file = findImageFile(iso, entries[i], tree);
        if (!file)
            return withoutBootRecords(
                Texts::tr("The image of the source's %1 is not a file of its tree")
                    .arg(describe(entries[i], qsizetype(i))));
        made.arguments << argumentsFor(entries[i], *file);
    }
    if (made.arguments.isEmpty())
        return withoutBootRecords(Texts::tr("None of the source image's boot entries is bootable"));
    return made;
}

} // namespace BootImages
