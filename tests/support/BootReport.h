#pragma once

#include "ElTorito.h"

#include <QFile>
#include <QProcess>
#include <QStringList>

// An image's boot entries as xorriso prints them ("BIOS y none 0x0000 8 755":
// platform, bootable, emulation, load segment, sectors, first sector), from
// our reader and from xorriso itself, so that tests compare the two.
namespace BootReport {

inline QString describe(const ElTorito::Entry &entry)
{
    static const char *const kEmulations[] = {"none", "fd1.2", "fd1.4", "fd2.8", "hd"};
    const QString platform = entry.platform == ElTorito::kPlatformX86
                                 ? QStringLiteral("BIOS")
                                 : QString::fromStdString(ElTorito::platformName(entry.platform));
    return QStringLiteral("%1 %2 %3 0x%4 %5 %6")
        .arg(platform, entry.bootable ? "y" : "n", kEmulations[int(entry.emulation)])
        .arg(entry.loadSegment, 4, 16, QLatin1Char('0'))
        .arg(entry.sectorCount)
        .arg(entry.loadRba);
}

inline QStringList fromReader(const QString &iso)
{
    const ElTorito::CatalogReading read =
        ElTorito::readCatalog(QFile::encodeName(iso).toStdString());
    QStringList entries;
    for (const ElTorito::Entry &entry : read.catalog.entries)
        entries << describe(entry);
    return entries;
}

inline QStringList fromXorriso(const QString &iso)
{
    QProcess xorriso;
    xorriso.start("xorriso", {"-indev", iso, "-report_el_torito", "plain"});
    xorriso.waitForFinished(60000);
    QStringList entries;
    // "El Torito boot img :   1  BIOS  y   none  0x0000  0x00      8         755"
    for (const QString &line : QString::fromUtf8(xorriso.readAll()).split('\n')) {
        const QStringList fields = line.section(':', 1).simplified().split(' ');
        if (line.startsWith("El Torito boot img") && fields.size() == 8)
            entries << QStringList{fields[1], fields[2], fields[3], fields[4], fields[6], fields[7]}
                           .join(' ');
    }
    return entries;
}

// Whether the entry loads exactly the bytes of `file` from the image.
inline bool loadsFile(const QString &iso, const ElTorito::Entry &entry, const QString &file)
{
    QFile source(file);
    if (!source.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = source.readAll();
    std::string error;
    const auto bytes = ElTorito::readImage(QFile::encodeName(iso).toStdString(), entry,
                                           quint64(wanted.size()), &error);
    return bytes && QByteArray(reinterpret_cast<const char *>(bytes->data()),
                               qsizetype(bytes->size())) == wanted;
}

} // namespace BootReport
