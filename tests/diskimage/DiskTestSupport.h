#pragma once

// Shared by the disk-tool tests: running the real tools, and looking at the
// kernel's mount table and processes without the code under test.

#include "MountOutput.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

namespace DiskTest {

inline const QString kHdiutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
inline const QString kDiskutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/diskutil");

struct Run {
    int exitCode = -1; // also for a crash, or no end within two minutes
    QByteArray out, err;
};
inline Run run(const QStringList &command)
{
    QProcess process;
    process.start(command.value(0), command.mid(1));
    const bool ended = process.waitForFinished(120 * 1000);
    if (!ended)
        process.kill(), process.waitForFinished();
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// The mount point from attach as the application reads it: through a pipe to
// its end (the server must not keep the output open). Empty when attach
// failed. The mount is this test's: it ends with the test process.
inline QString attach(const QString &image)
{
    const Run attached =
        run({"bash", "-c", "\"$0\" attach -owner $PPID \"$1\" | cat; exit ${PIPESTATUS[0]}",
             kHdiutil, image});
    if (attached.exitCode != 0)
        qWarning("attach %s failed: %s", qPrintable(image), attached.err.constData());
    return MountOutput::mountPointFromAttachOutput(attached.exitCode ? "" : attached.out)
        .value_or("");
}

// `hdiutil info -plist` as the application reads it: the images mounted below `folder`.
inline QList<MountOutput::AttachedImage> info(const QString &folder)
{
    QList<MountOutput::AttachedImage> images;
    for (const auto &image :
         MountOutput::parseAttachedImages(run({kHdiutil, "info", "-plist"}).out))
        if (image.mountPoints.value(0).startsWith(folder + '/'))
            images << image;
    return images;
}

// Mount points in the kernel's table below `folder`.
inline QStringList mountsBelow(const QString &folder)
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

// Live (not zombie) processes with an argument that starts with `text`.
inline QList<int> processesWithArgument(const QString &text)
{
    QList<int> pids;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat"), cmdline("/proc/" + pid + "/cmdline");
        if (pid.toInt() <= 0 || !stat.open(QIODevice::ReadOnly) ||
            !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray state = stat.readAll();
        const QByteArrayList args = cmdline.readAll().split('\0');
        if (state.mid(state.lastIndexOf(')') + 2, 1) != "Z" &&
            std::any_of(args.begin(), args.end(),
                        [&](auto &arg) { return arg.startsWith(text.toUtf8()); }))
            pids << pid.toInt();
    }
    return pids;
}

// Kills every process with an argument below `folder` and waits until they
// are gone: a server killed holds its mount point's name (its lock) until it
// has exited, which on a busy machine may be a while. False when some still
// run after ten seconds.
inline bool endProcessesBelow(const QString &folder)
{
    QDeadlineTimer deadline(10 * 1000);
    for (QList<int> left; !(left = processesWithArgument(folder + '/')).isEmpty();) {
        if (deadline.hasExpired())
            return false;
        for (const int pid : left)
            ::kill(pid, SIGKILL);
        QThread::msleep(10);
    }
    return true;
}

// After a failure: unmounts lazily what is mounted below the runtime folder
// `folder`, ends its servers, and takes the folder away with what they left
// (mount points, locks). True when nothing is left of it.
inline bool clearRuntimeFolder(const QString &folder)
{
    for (const QString &mount : mountsBelow(folder))
        geteuid() == 0 ? umount2(QFile::encodeName(mount).constData(), MNT_DETACH)
                       : QProcess::execute("fusermount3", {"-uz", mount});
    if (!endProcessesBelow(folder) || !mountsBelow(folder).isEmpty())
        return false;
    return !QFileInfo::exists(folder) || QDir(folder).removeRecursively();
}

// What diff finds between two trees (names, kinds, bytes); empty when alike.
inline QString treeDifference(const QString &expected, const QString &actual)
{
    const Run diff = run({"diff", "-rq", "--no-dereference", expected, actual});
    return diff.exitCode == 0 ? QString() : QString::fromUtf8(diff.out + diff.err);
}

// `size` bytes of pseudo-random data derived from `seed`; makes the folders.
inline bool writeFile(const QString &path, qint64 size, quint32 seed)
{
    QList<quint32> words((size + 3) / 4);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(words.constData()), size) == size;
}

} // namespace DiskTest
