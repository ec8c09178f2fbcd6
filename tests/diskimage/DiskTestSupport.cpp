#include "DiskTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <plist/plist.h>

#include <csignal>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

namespace DiskTest {

QString hdiutil()
{
    return QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
}
QString diskutil()
{
    return QStringLiteral(ISOSWM_LIBEXEC_DIR "/diskutil");
}

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.closeWriteChannel();
    Run result;
    if (!process.waitForFinished(120 * 1000)) {
        process.kill();
        process.waitForFinished();
        result.crashed = true;
    }
    result.exitCode = process.exitCode();
    result.crashed = result.crashed || process.exitStatus() != QProcess::NormalExit;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QString mountPointFromAttach(const QByteArray &out)
{
    const QString text = QString::fromUtf8(out);
    const QString prefix = QStringLiteral("/dev/fuse\t\t");
    if (!text.startsWith(prefix) || !text.endsWith(QLatin1Char('\n')) ||
        text.count(QLatin1Char('\n')) != 1)
        return QString();
    return text.mid(prefix.size()).chopped(1);
}

static QString stringAt(plist_t dict, const char *key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!PLIST_IS_STRING(node))
        return QString();
    char *value = nullptr;
    plist_get_string_val(node, &value);
    const QString text = QString::fromUtf8(value);
    free(value);
    return text;
}

bool parseInfo(const QByteArray &xml, QList<AttachedImage> *images)
{
    images->clear();
    plist_t root = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
    if (!PLIST_IS_DICT(root)) {
        plist_free(root);
        return false;
    }
    bool ok = true;
    plist_t list = plist_dict_get_item(root, "images");
    if (!PLIST_IS_ARRAY(list)) {
        ok = false;
    } else {
        for (uint32_t i = 0; i < plist_array_get_size(list); ++i) {
            plist_t record = plist_array_get_item(list, i);
            plist_t entities = plist_dict_get_item(record, "system-entities");
            if (!PLIST_IS_DICT(record) || !PLIST_IS_ARRAY(entities)) {
                ok = false;
                continue;
            }
            AttachedImage image;
            image.imagePath = stringAt(record, "image-path");
            for (uint32_t k = 0; k < plist_array_get_size(entities); ++k) {
                plist_t entity = plist_array_get_item(entities, k);
                image.mountPoints << stringAt(entity, "mount-point");
                image.devEntries << stringAt(entity, "dev-entry");
            }
            images->append(image);
        }
    }
    plist_free(root);
    return ok;
}

// mountinfo escapes space, tab, newline and backslash as \ooo.
static QString unescapeMountField(const QByteArray &field)
{
    QByteArray decoded;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                decoded.append(char(value));
                i += 3;
                continue;
            }
        }
        decoded.append(field[i]);
    }
    return QString::fromUtf8(decoded);
}

QStringList mountsBelow(const QString &prefix)
{
    QStringList mounts;
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    if (!table.open(QIODevice::ReadOnly))
        return mounts;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5)
            continue;
        const QString target = unescapeMountField(fields[4]);
        if (target.startsWith(prefix + QLatin1Char('/')))
            mounts << target;
    }
    return mounts;
}

static QList<int> processesMatching(const std::function<bool(const QString &)> &matches)
{
    QList<int> pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isPid = false;
        const int pid = entry.toInt(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray statLine = stat.readAll();
        const int close = statLine.lastIndexOf(')');
        if (close < 0 || statLine.mid(close + 2, 1) == "Z")
            continue; // a zombie has exited; only its parent has yet to notice
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &arg : cmdline.readAll().split('\0')) {
            if (matches(QString::fromUtf8(arg))) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

QList<int> processesWithArgument(const QString &text)
{
    return processesMatching([&](const QString &arg) { return arg == text; });
}

void forceCleanup(const QString &prefix)
{
    QStringList mounts = mountsBelow(prefix);
    // Deepest first, latest first.
    std::sort(mounts.begin(), mounts.end(),
              [](const QString &a, const QString &b) { return a.size() > b.size(); });
    for (const QString &mount : mounts) {
        if (geteuid() == 0)
            umount2(QFile::encodeName(mount).constData(), MNT_DETACH);
        else
            QProcess::execute(QStringLiteral("fusermount3"),
                              {QStringLiteral("-u"), QStringLiteral("-z"), mount});
    }
    const QList<int> servers = processesMatching(
        [&](const QString &arg) { return arg.startsWith(prefix + QLatin1Char('/')); });
    for (const int pid : servers)
        ::kill(pid, SIGKILL);
}

QMap<QString, qint64> listing(const QString &root)
{
    QMap<QString, qint64> entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        entries.insert(base.relativeFilePath(info.filePath()), info.isDir() ? -1 : info.size());
    }
    return entries;
}

bool sameBytes(const QString &a, const QString &b, QString *why)
{
    QFile first(a), second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot open %1 or %2").arg(a, b);
        return false;
    }
    // Two buffers reused throughout: fresh ones per read cost a page fault per
    // page, which in a VM is most of the time spent.
    constexpr qint64 kChunk = 1 << 20;
    QByteArray x(kChunk, Qt::Uninitialized), y(kChunk, Qt::Uninitialized);
    qint64 offset = 0;
    for (;;) {
        const qint64 n = first.read(x.data(), kChunk);
        const qint64 m = second.read(y.data(), kChunk);
        if (n != m || n < 0 || std::memcmp(x.constData(), y.constData(), size_t(n)) != 0) {
            qint64 at = 0;
            while (at < qMin(n, m) && x[at] == y[at])
                ++at;
            *why = QStringLiteral("%1 and %2 differ at byte %3").arg(a, b).arg(offset + at);
            return false;
        }
        if (n == 0)
            return true;
        offset += n;
    }
}

bool sameTree(const QString &expected, const QString &actual, QString *why)
{
    const QMap<QString, qint64> want = listing(expected);
    const QMap<QString, qint64> got = listing(actual);
    if (want != got) {
        for (auto it = want.begin(); it != want.end(); ++it) {
            if (!got.contains(it.key()) || got.value(it.key()) != it.value()) {
                *why = QStringLiteral("%1 (size %2) is missing or differs in %3")
                           .arg(it.key())
                           .arg(it.value())
                           .arg(actual);
                return false;
            }
        }
        for (auto it = got.begin(); it != got.end(); ++it) {
            if (!want.contains(it.key())) {
                *why = QStringLiteral("%1 is in %2 only").arg(it.key(), actual);
                return false;
            }
        }
    }
    for (auto it = want.begin(); it != want.end(); ++it) {
        if (it.value() >= 0 && !sameBytes(expected + QLatin1Char('/') + it.key(),
                                          actual + QLatin1Char('/') + it.key(), why))
            return false;
    }
    return true;
}

bool writeFile(const QString &path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QRandomGenerator random(seed);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0;) {
        random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const qint64 n = qMin<qint64>(left, block.size());
        if (file.write(block.constData(), n) != n)
            return false;
        left -= n;
    }
    return true;
}

bool makeUdfIso(const QString &folder, const QString &label, const QString &iso, QString *why)
{
    const QString script = QStringLiteral(
        "set -o pipefail; genisoimage -quiet -iso-level 3 -R -udf -input-charset utf-8 "
        "-allow-limited-size -V \"$1\" \"$2\" | cp --sparse=always /dev/stdin \"$3\" && sync "
        "\"$3\"");
    const Run made = run(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), script,
                                                       QStringLiteral("make"), label, folder, iso});
    if (made.exitCode != 0 || made.crashed) {
        *why = QString::fromUtf8(made.err);
        return false;
    }
    return true;
}

} // namespace DiskTest
