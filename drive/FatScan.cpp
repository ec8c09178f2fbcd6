#include "FatScan.h"

#include <QByteArray>
#include <vector>
#include <unistd.h>

namespace FatScan {

namespace {

constexpr int kEntry = 32;
constexpr quint32 kMask = 0x0FFFFFFF;
constexpr quint32 kEnd = 0x0FFFFFF8;
constexpr unsigned char kDirectory = 0x10, kVolume = 0x08, kLongName = 0x0F;

quint32 little(const unsigned char *p, int bytes)
{
    quint32 value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

QByteArray readAt(int image, qint64 offset, qint64 length)
{
    QByteArray bytes(length, Qt::Uninitialized);
    const ssize_t got = pread(image, bytes.data(), size_t(length), offset);
    bytes.resize(got < 0 ? 0 : qsizetype(got));
    return bytes;
}

class Walker {
public:
    Walker(int image, const Geometry &g) : m_image(image), m_g(g)
    {
        const qint64 fatBytes = std::min<qint64>(g.fatBytes, (g.clusters + 2) * 4ll);
        m_fat = readAt(image, g.fatStart, fatBytes);
        m_map.complete = m_fat.size() == fatBytes;
    }

    void folder(quint32 cluster, const QString &path)
    {
        QByteArray entries;
        for (const quint32 c : chain(cluster)) {
            add(&m_map.folders, c, path);
            const QByteArray cluster = readAt(m_image, m_g.offsetOf(c), m_g.clusterBytes);
            m_map.complete = m_map.complete && cluster.size() == m_g.clusterBytes;
            entries += cluster;
        }
        QString longName;
        for (qsizetype at = 0; at + kEntry <= entries.size(); at += kEntry) {
            const auto *e = reinterpret_cast<const unsigned char *>(entries.constData() + at);
            if (e[0] == 0)
                break;
            if (e[0] == 0xE5 || (e[11] & kLongName) == kLongName) {
                longName = e[0] == 0xE5 ? QString() : longPart(e) + longName;
                continue;
            }
            const QString name = longName.isEmpty() ? shortName(e) : longName;
            longName.clear();
            const quint32 first = little(e + 20, 2) << 16 | little(e + 26, 2);
            if ((e[11] & kVolume) || e[0] == '.' || first < 2)
                continue;
            if (e[11] & kDirectory)
                folder(first, path + name + QLatin1Char('/'));
            else
                for (const quint32 c : chain(first))
                    add(&m_map.files, c, path + name);
        }
    }

    Map take() { return std::move(m_map); }

private:
    quint32 next(quint32 cluster) const
    {
        if (qsizetype(cluster) * 4 + 4 > m_fat.size())
            return kEnd;
        return little(reinterpret_cast<const unsigned char *>(m_fat.constData()) + cluster * 4,
                      4) &
               kMask;
    }

    QList<quint32> chain(quint32 first)
    {
        QList<quint32> clusters;
        for (quint32 c = first; c >= 2 && c < m_g.clusters + 2 && !m_seen[c]; c = next(c)) {
            m_seen[c] = true;
            clusters << c;
        }
        return clusters;
    }

    // Joined to the last extent where it follows on in the same file.
    void add(QList<Extent> *list, quint32 cluster, const QString &file)
    {
        const qint64 offset = m_g.offsetOf(cluster);
        if (!list->isEmpty() && list->last().file == file &&
            list->last().offset + list->last().length == offset) {
            list->last().length += m_g.clusterBytes;
            return;
        }
        list->append({offset, m_g.clusterBytes, cluster, file});
    }

    static QString longPart(const unsigned char *e)
    {
        QString part;
        for (const int at : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
            const char16_t c = char16_t(little(e + at, 2));
            if (c == 0 || c == 0xFFFF)
                break;
            part += QChar(c);
        }
        return part;
    }

    static QString shortName(const unsigned char *e)
    {
        const QString base = QString::fromLatin1(reinterpret_cast<const char *>(e), 8).trimmed();
        const QString ext =
            QString::fromLatin1(reinterpret_cast<const char *>(e) + 8, 3).trimmed();
        // Windows' flags for a name or an extension all in lower case.
        const QString b = (e[12] & 0x08) ? base.toLower() : base;
        const QString x = (e[12] & 0x10) ? ext.toLower() : ext;
        return x.isEmpty() ? b : b + QLatin1Char('.') + x;
    }

    int m_image;
    const Geometry &m_g;
    QByteArray m_fat;
    std::vector<bool> m_seen = std::vector<bool>(m_g.clusters + 2, false);
    Map m_map;
};

} // namespace

std::optional<Geometry> geometry(int image, qint64 partition)
{
    const QByteArray boot = readAt(image, partition, 512);
    if (boot.size() != 512)
        return std::nullopt;
    const auto *b = reinterpret_cast<const unsigned char *>(boot.constData());
    const qint64 sector = little(b + 11, 2), perCluster = b[13], reserved = little(b + 14, 2);
    const qint64 fats = b[16], fatSectors = little(b + 36, 4), sectors = little(b + 32, 4);
    if (sector < 512 || perCluster == 0 || fats == 0 || fatSectors == 0 || little(b + 22, 2) != 0)
        return std::nullopt; // not FAT32
    Geometry g;
    g.partition = partition;
    g.fatStart = partition + reserved * sector;
    g.fatBytes = fatSectors * sector;
    g.dataStart = g.fatStart + fats * g.fatBytes;
    g.clusterBytes = perCluster * sector;
    const qint64 dataSectors = sectors - reserved - fats * fatSectors;
    g.clusters = quint32(std::max<qint64>(0, dataSectors / perCluster));
    g.rootCluster = little(b + 44, 4);
    g.end = partition + sectors * sector;
    return g;
}

Map scan(int image, const Geometry &geometry)
{
    Walker walker(image, geometry);
    walker.folder(geometry.rootCluster, QString());
    return walker.take();
}

} // namespace FatScan
