#include "FatPlace.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace FatPlace {

namespace {

struct PlaceText {
    Q_DECLARE_TR_FUNCTIONS(StickImage)
};

constexpr quint32 kLast = 0x0FFFFFFF;
constexpr int kEntry = 32;

void putLittle(unsigned char *p, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i, value >>= 8)
        p[i] = value & 0xFF;
}

quint32 little(const unsigned char *p, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

Error failed(const QString &why, int code = EIO)
{
    return {PlaceText::tr("The USB installer could not be built."), why, code};
}

// A write to the image that fell short: the system's reason, or EIO for a
// short write, which sets none.
Error unwritten()
{
    const int code = errno ? errno : EIO;
    return failed(QString::fromLocal8Bit(std::strerror(code)), code);
}

// The FAT of a stick's image, changed in memory and written back to every copy.
class Table {
public:
    Table(int image, const FatScan::Geometry &g) : m_image(image), m_g(g)
    {
        m_fat.resize(qsizetype(g.clusters + 2) * 4);
        m_ok = pread(image, m_fat.data(), size_t(m_fat.size()), g.fatStart) == m_fat.size();
    }
    bool ok() const { return m_ok; }
    quint32 at(quint32 c) const { return little(bytes() + c * 4, 4) & kLast; }
    void set(quint32 c, quint32 next) { putLittle(bytes() + c * 4, next, 4); }
    // The first cluster after the last one in use.
    quint32 end() const
    {
        quint32 c = m_g.clusters + 1;
        while (c >= 2 && at(c) == 0)
            --c;
        return c + 1;
    }
    bool write() const
    {
        for (qint64 at = m_g.fatStart; at < m_g.dataStart; at += m_g.fatBytes)
            if (pwrite(m_image, m_fat.constData(), size_t(m_fat.size()), at) != m_fat.size())
                return false;
        return true;
    }

private:
    unsigned char *bytes() const
    {
        return reinterpret_cast<unsigned char *>(const_cast<char *>(m_fat.constData()));
    }
    int m_image;
    const FatScan::Geometry &m_g;
    QByteArray m_fat;
    bool m_ok = false;
};

// The short entry: "install2.swm" as "INSTALL2SWM", marked lower case when
// it is the name itself, or an alias ("INSTAL~1SWM") after its long name.
QByteArray shortEntry(const QByteArray &name11, bool lowerCase, quint32 first, qint64 size)
{
    QByteArray e(kEntry, '\0');
    auto *p = reinterpret_cast<unsigned char *>(e.data());
    std::memcpy(p, name11.constData(), 11);
    p[11] = 0x20;                          // archive
    p[12] = lowerCase ? 0x08 | 0x10 : 0x00; // the name and the extension in lower case
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    const quint32 date = quint32((d.year() - 1980) << 9 | d.month() << 5 | d.day());
    const quint32 time = quint32(t.hour() << 11 | t.minute() << 5 | t.second() / 2);
    for (const int at : {14, 22})
        putLittle(p + at, time, 2);
    for (const int at : {16, 18, 24})
        putLittle(p + at, date, 2);
    putLittle(p + 20, first >> 16, 2);
    putLittle(p + 26, first & 0xFFFF, 2);
    putLittle(p + 28, quint32(size), 4);
    return e;
}

QByteArray padded(const QString &part, int length)
{
    return part.left(length).toUpper().toLatin1().leftJustified(length, ' ');
}

// The long name's entries, last part first, as they are stored before the
// short entry they belong to.
QByteArray longEntries(const QString &name, const QByteArray &alias)
{
    unsigned char sum = 0;
    for (const char c : alias)
        sum = uchar(((sum & 1) << 7) + (sum >> 1) + uchar(c));
    const qsizetype parts = (name.size() + 12) / 13;
    QByteArray entries;
    for (qsizetype part = parts; part >= 1; --part) {
        QByteArray e(kEntry, '\0');
        auto *p = reinterpret_cast<unsigned char *>(e.data());
        p[0] = uchar(part | (part == parts ? 0x40 : 0));
        p[11] = 0x0F;
        p[13] = sum;
        int i = 0;
        for (const int at : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
            const qsizetype index = (part - 1) * 13 + i++;
            const quint32 c = index < name.size() ? name[index].unicode()
                              : index == name.size() ? 0 : 0xFFFF;
            putLittle(p + at, c, 2);
        }
        entries += e;
    }
    return entries;
}

// The entries for `name`: itself where it fits a short entry, else an alias
// that no entry of the folder has, after the long name.
QByteArray entriesFor(const QString &name, const QByteArray &folder, quint32 first, qint64 size)
{
    const QString base = name.section(QLatin1Char('.'), 0, -2).isEmpty()
                             ? name
                             : name.section(QLatin1Char('.'), 0, -2);
    const QString ext = name.contains(QLatin1Char('.')) ? name.section(QLatin1Char('.'), -1) : QString();
    if (fitsShortEntry(name))
        return shortEntry(padded(base, 8) + padded(ext, 3), true, first, size);
    static const QRegularExpression unfit(QStringLiteral("[^A-Za-z0-9_-]"));
    const QString plain = QString(base).remove(unfit);
    for (int n = 1;; ++n) {
        const QString tail = QStringLiteral("~%1").arg(n);
        const QByteArray alias = padded(plain.left(8 - tail.size()) + tail, 8) +
                                 padded(QString(ext).remove(unfit), 3);
        bool taken = false;
        for (qsizetype at = 0; at + kEntry <= folder.size() && !taken; at += kEntry)
            taken = folder.mid(at, 11) == alias;
        if (!taken)
            return longEntries(name, alias) + shortEntry(alias, false, first, size);
    }
}

QByteArray read(int image, const QList<FatScan::Extent> &folder)
{
    QByteArray bytes;
    for (const FatScan::Extent &extent : folder) {
        QByteArray part(extent.length, '\0');
        if (pread(image, part.data(), size_t(extent.length), extent.offset) != extent.length)
            return {};
        bytes += part;
    }
    return bytes;
}

// The first of `count` free slots in a row within one run of the folder's
// clusters; -1 when there are none.
qint64 freeSlots(const QByteArray &bytes, const QList<FatScan::Extent> &folder, qint64 count)
{
    qint64 start = 0;
    for (const FatScan::Extent &extent : folder) {
        qint64 run = 0;
        for (qint64 at = 0; at < extent.length; at += kEntry) {
            const char first = bytes.at(start + at);
            run = first == '\0' || uchar(first) == 0xE5 ? run + 1 : 0;
            if (run == count)
                return extent.offset + at - (count - 1) * kEntry;
        }
        start += extent.length;
    }
    return -1;
}

// The FSInfo sector's free count and next free cluster, as mtools keeps them.
void tellFsInfo(int image, const FatScan::Geometry &g, quint32 used, quint32 next)
{
    unsigned char boot[512], info[512];
    if (pread(image, boot, sizeof boot, g.partition) != sizeof boot)
        return;
    const qint64 at = g.partition + qint64(little(boot + 48, 2)) * little(boot + 11, 2);
    if (pread(image, info, sizeof info, at) != sizeof info || little(info, 4) != 0x41615252)
        return;
    const quint32 free = little(info + 488, 4);
    if (free != 0xFFFFFFFF)
        putLittle(info + 488, free >= used ? free - used : 0, 4);
    putLittle(info + 492, next, 4);
    pwrite(image, info, sizeof info, at);
}

} // namespace

bool fitsShortEntry(const QString &name)
{
    static const QRegularExpression shortName(QStringLiteral("^[a-z0-9_-]{1,8}(\\.[a-z0-9_-]{1,3})?$"));
    return shortName.match(name).hasMatch();
}

std::variant<FatScan::Extent, Error> reserve(int image, const FatScan::Geometry &g,
                                             const QString &folder, const QString &name,
                                             qint64 size)
{
    QList<FatScan::Extent> folderExtents;
    for (const FatScan::Extent &e : FatScan::scan(image, g).folders)
        if (e.file == folder + QLatin1Char('/'))
            folderExtents << e;
    Table fat(image, g);
    const QByteArray existing = read(image, folderExtents);
    if (folderExtents.isEmpty() || !fat.ok() || existing.isEmpty() || size > 0xFFFFFFFFLL)
        return failed(QStringLiteral("%1/%2: no place for it").arg(folder, name));
    quint32 next = fat.end();
    const quint32 clusters = quint32((size + g.clusterBytes - 1) / g.clusterBytes);
    const QByteArray entries = entriesFor(name, existing, clusters ? next : 0, size);
    qint64 slot = freeSlots(existing, folderExtents, entries.size() / kEntry);
    const quint32 more = slot < 0 ? 1 : 0; // the folder takes one more cluster
    if (qint64(next) + more + clusters > qint64(g.clusters) + 2)
        return failed(PlaceText::tr("There is no room left on the drive for %1.").arg(name), ENOSPC);
    if (more) {
        const FatScan::Extent &last = folderExtents.last();
        fat.set(quint32(last.firstCluster + last.length / g.clusterBytes - 1), next);
        fat.set(next, kLast);
        slot = g.offsetOf(next);
        const QByteArray zeros(g.clusterBytes, '\0');
        errno = 0;
        if (pwrite(image, zeros.constData(), size_t(zeros.size()), slot) != zeros.size())
            return unwritten();
        ++next;
    }
    // The entries name the first cluster as it is after the folder's own.
    const QByteArray placed =
        more ? entriesFor(name, existing, clusters ? next : 0, size) : entries;
    for (quint32 i = 0; i < clusters; ++i)
        fat.set(next + i, i + 1 < clusters ? next + i + 1 : kLast);
    errno = 0;
    if (!fat.write() ||
        pwrite(image, placed.constData(), size_t(placed.size()), slot) != placed.size())
        return unwritten();
    tellFsInfo(image, g, more + clusters, next + clusters);
    return FatScan::Extent{g.offsetOf(next), qint64(clusters) * g.clusterBytes, next,
                           folder + QLatin1Char('/') + name};
}

} // namespace FatPlace
