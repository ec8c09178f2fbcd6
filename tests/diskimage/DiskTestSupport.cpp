#include "DiskTestSupport.h"

#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

namespace DiskTest {

Run run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.closeWriteChannel();
    const bool ended = process.waitForFinished(120 * 1000);
    if (!ended)
        process.kill();
    process.waitForFinished();
    const bool normal = ended && process.exitStatus() == QProcess::NormalExit;
    return {normal ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QString useRuntimeFolder(const QString &work)
{
    const QString runtime = work + "/runtime";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    return runtime + "/isoswm";
}

QString attach(const QString &image)
{
    const Run attached = run(
        "/bin/bash", {"-c", "\"$0\" attach -owner $PPID \"$1\" 2>&1 | cat; exit ${PIPESTATUS[0]}",
                      kHdiutil, image});
    const QString text = QString::fromUtf8(attached.out), prefix = "/dev/fuse\t\t";
    if (attached.exitCode == 0 && text.startsWith(prefix) && text.indexOf('\n') == text.size() - 1)
        return text.mid(prefix.size()).chopped(1);
    qWarning("attach %s failed: %s", qPrintable(image), attached.out.constData());
    return QString();
}

QList<AttachedImage> info(const QString &folder)
{
    const Run listed = run(kHdiutil, {"info", "-plist"});
    const auto root = PropertyList::parse(listed.out);
    if (listed.exitCode != 0 || !root)
        qWarning("hdiutil info -plist gave no list: %s", listed.err.constData());
    QList<AttachedImage> images;
    for (const QVariant &record : root.value_or(QVariant()).toMap().value("images").toList()) {
        const QVariantMap fields = record.toMap();
        AttachedImage image{fields.value("image-path").toString(),
                            {},
                            {},
                            fields.value("owner-pid").toLongLong(),
                            fields.value("owner-alive").toBool()};
        for (const QVariant &entity : fields.value("system-entities").toList()) {
            image.mountPoints << entity.toMap().value("mount-point").toString();
            image.devEntries << entity.toMap().value("dev-entry").toString();
        }
        // Other mounts of the machine are none of our business.
        if (image.mountPoints.value(0).startsWith(folder + '/'))
            images << image;
    }
    return images;
}

QStringList mountsBelow(const QString &folder)
{
    QStringList mounts;
    QFile table("/proc/self/mountinfo");
    table.open(QIODevice::ReadOnly);
    for (const QByteArray &line : table.readAll().split('\n')) {
        // The table escapes space, tab, newline and backslash.
        QByteArray field = line.split(' ').value(4);
        field.replace("\\040", " ").replace("\\011", "\t").replace("\\012", "\n");
        const QString target = QString::fromUtf8(field.replace("\\134", "\\"));
        if (target.startsWith(folder + '/'))
            mounts << target;
    }
    return mounts;
}

QList<int> processesWithArgument(const QString &text, bool prefixOnly)
{
    QList<int> pids;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat(QString("/proc/%1/stat").arg(entry));
        QFile cmdline(QString("/proc/%1/cmdline").arg(entry));
        if (entry.toInt() <= 0 || !stat.open(QIODevice::ReadOnly) ||
            !cmdline.open(QIODevice::ReadOnly))
            continue;
        // A zombie has exited; only its parent has yet to notice.
        const QByteArray state = stat.readAll();
        if (state.mid(state.lastIndexOf(')') + 2, 1) == "Z")
            continue;
        for (const QByteArray &arg : cmdline.readAll().split('\0')) {
            if (prefixOnly ? arg.startsWith(text.toUtf8()) : arg == text.toUtf8()) {
                pids << entry.toInt();
                break;
            }
        }
    }
    return pids;
}

void forceCleanup(const QString &folder)
{
    QStringList mounts = mountsBelow(folder);
    std::sort(mounts.begin(), mounts.end(), std::greater<>()); // deepest first
    for (const QString &mount : mounts) {
        if (geteuid() == 0)
            umount2(QFile::encodeName(mount).constData(), MNT_DETACH);
        else
            QProcess::execute("fusermount3", {"-uz", mount});
    }
    for (const int pid : processesWithArgument(folder, true))
        ::kill(pid, SIGKILL);
}

QString treeDifference(const QString &expected, const QString &actual)
{
    const Run diff = run("diff", {"-rq", "--no-dereference", expected, actual});
    return diff.exitCode == 0 ? QString() : QString::fromUtf8(diff.out + diff.err);
}

bool writeFile(const QString &path, qint64 size, quint32 seed)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QRandomGenerator random(seed);
    QByteArray block(64 * 1024, Qt::Uninitialized);
    bool ok = file.open(QIODevice::WriteOnly);
    for (qint64 left = size; ok && left > 0; left -= block.size()) {
        random.fillRange(reinterpret_cast<quint32 *>(block.data()), block.size() / 4);
        const qint64 n = qMin<qint64>(left, block.size());
        ok = file.write(block.constData(), n) == n;
    }
    return ok;
}

QString makeUdfIso(const QString &folder, const QString &label, const QString &iso)
{
    const QString script =
        "set -o pipefail; genisoimage -quiet -iso-level 3 -R -udf -input-charset "
        "utf-8 -allow-limited-size -V \"$1\" \"$2\" | cp --sparse=always "
        "/dev/stdin \"$3\"";
    const Run made = run("/bin/bash", {"-c", script, "make", label, folder, iso});
    return made.exitCode == 0 ? QString() : "genisoimage: " + QString::fromUtf8(made.err);
}

} // namespace DiskTest
