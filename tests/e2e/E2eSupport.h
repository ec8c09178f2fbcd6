#pragma once

// Running isoswm-cli and the Linux disk tools for real, and looking at what a
// run leaves on the machine without the code under test.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace E2e {

struct Ran {
    int code = -1; // also for a crash or no end in time
    QByteArray out, err;
};

inline QProcessEnvironment environment(const QString &tmpdir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!tmpdir.isEmpty())
        env.insert("TMPDIR", tmpdir);
    return env;
}

inline Ran run(const QString &program, const QStringList &arguments, const QString &tmpdir = {},
               int timeoutMs = 900000)
{
    QProcess p;
    p.setProcessEnvironment(environment(tmpdir));
    p.start(program, arguments);
    const bool ended = p.waitForFinished(timeoutMs);
    if (!ended)
        p.kill(), p.waitForFinished();
    return {ended && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardOutput(), p.readAllStandardError()};
}

inline const QString kHdiutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
inline const QString kCli = QStringLiteral(ISOSWM_BIN_DIR "/isoswm-cli");

inline QString attach(const QString &image)
{
    const Ran r = run(kHdiutil, {"attach", image});
    return r.code == 0 ? QString::fromUtf8(r.out).section('\t', -1).trimmed() : QString();
}

inline void detach(const QString &mountPoint)
{
    if (!mountPoint.isEmpty() && run(kHdiutil, {"unmount", mountPoint}).code != 0)
        run(kHdiutil, {"unmount", "-force", mountPoint});
}

// Every process this test starts carries this mark in its environment, and so
// do the processes those start: what this program judges is only its own, while
// another test program runs beside it.
inline const QByteArray kMark = [] {
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    qputenv("ISOSWM_TEST_OWNER", pid);
    return "ISOSWM_TEST_OWNER=" + pid;
}();

// Our FUSE mounts in the kernel's table, of any user, below this program's
// temporary or runtime folder.
inline QStringList ourMounts()
{
    const QStringList folders{QDir::tempPath() + '/',
                              qEnvironmentVariable("XDG_RUNTIME_DIR", "/run") + '/'};
    QStringList mounts;
    QFile table("/proc/self/mountinfo");
    table.open(QIODevice::ReadOnly);
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QString point = QString::fromUtf8(line.split(' ').value(4));
        if (line.contains(" - fuse.isoswm ") &&
            std::any_of(folders.begin(), folders.end(),
                        [&](auto &f) { return point.startsWith(f); }))
            mounts << point;
    }
    return mounts;
}

// Live processes of ours: the disk tools and their FUSE server, and the
// genisoimage they start, that this program started; zombies do not count.
inline QStringList ourProcesses()
{
    QStringList found;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat"), cmd("/proc/" + pid + "/cmdline"),
            environment("/proc/" + pid + "/environ");
        if (pid.toInt() <= 0 || !stat.open(QIODevice::ReadOnly) || !cmd.open(QIODevice::ReadOnly) ||
            !environment.open(QIODevice::ReadOnly) ||
            !environment.readAll().split('\0').contains(kMark))
            continue;
        const QByteArray state = stat.readAll();
        const QByteArray line = cmd.readAll().replace('\0', ' ');
        if (state.mid(state.lastIndexOf(')') + 2, 1) != "Z" &&
            (line.contains(ISOSWM_LIBEXEC_DIR) || line.startsWith("/usr/bin/genisoimage") ||
             line.contains("isoswm-cli")))
            found << pid + ": " + QString::fromUtf8(line);
    }
    return found;
}

inline QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Reads a running program's output as it comes until `done` says so or it ends.
inline QByteArray readUntil(QProcess &p, const std::function<bool(const QByteArray &)> &done,
                            int timeoutMs = 120000)
{
    QByteArray seen;
    QElapsedTimer clock;
    clock.start();
    p.waitForStarted();
    while (clock.elapsed() < timeoutMs && p.state() == QProcess::Running && !done(seen)) {
        p.waitForReadyRead(100);
        seen += p.readAllStandardOutput();
    }
    return seen;
}

// What the sample images' loaders print (scripts/make-boot-loaders).
inline const QString kUefiMarker = QStringLiteral("isoswm sample loader: UEFI");
inline const QString kBiosMarker = QStringLiteral("isoswm sample loader: BIOS");

// Starts the image in a virtual machine ("uefi" or "bios", as a "cd" or a "usb"
// stick): code 0 once its loader speaks; otherwise why not, with the firmware's
// last boot line (tests/support/boot-check).
inline Ran bootCheck(const QString &firmware, const QString &medium, const QString &image)
{
    return run(QStringLiteral(ISOSWM_SOURCE_DIR "/tests/support/boot-check"),
               {firmware, medium, image, firmware == "uefi" ? kUefiMarker : kBiosMarker}, {},
               120000);
}

// Mounts the images for as long as it lives.
struct Mounted {
    QStringList points;
    explicit Mounted(const QStringList &images)
    {
        for (const QString &image : images)
            points << attach(image);
    }
    ~Mounted()
    {
        for (const QString &point : points)
            detach(point);
    }
    QString operator[](int i) const { return points.value(i); }
};

inline QString diffTrees(const QString &a, const QString &b, const QStringList &excluded)
{
    QStringList arguments{"-r", "--no-dereference"};
    for (const QString &x : excluded)
        arguments << "-x" << x;
    const Ran diff = run("diff", arguments << a << b);
    return diff.code == 0 ? QString() : QString::fromUtf8(diff.out + diff.err).left(2000);
}

// The editions of a WIM (or split set) with each one's files and their hashes.
inline QString editionsOf(const QString &wim, const QStringList &reference = {})
{
    QString all = QString::fromUtf8(run("wiminfo", {wim}).out).section("Available Images:", 1);
    // Only what an export must keep: the part about sizes and times may change.
    all.remove(
        QRegularExpression("(Directory Count|File Count|Total Bytes|Hard Link Bytes|"
                           "Creation Time|Last Modification Time|WIMBoot compatible):[^\n]*\n"));
    for (int image = 1;; ++image) {
        const Ran listed =
            run("wimdir", QStringList{wim, QString::number(image), "--detailed"} + reference);
        if (listed.code != 0)
            break;
        QString files;
        for (const QString &line : QString::fromUtf8(listed.out).split('\n'))
            if (line.startsWith("Full Path") || line.contains("SHA-1 message digest"))
                files += line.trimmed() + '\n';
        all += QString("image %1:\n%2").arg(image).arg(files);
    }
    return all;
}

// A test program's own folder, with the sample images it makes there once,
// readable by the other users the program runs commands as.
class Workspace {
public:
    QTemporaryDir m_work{QDir::tempPath() + "/isoswm-e2e-XXXXXX"};
    const QFileDevice::Permissions m_fuseMode = QFileInfo("/dev/fuse").permissions();

    Workspace()
    {
        QFile::setPermissions(m_work.path(), QFile::permissions(m_work.path()) | QFile::ReadOther |
                                                 QFile::ExeOther);
    }
    ~Workspace()
    {
        if (::geteuid() == 0)
            QFile::setPermissions("/dev/fuse", m_fuseMode);
    }
    // A command run as another user, as a desktop user would run it: /dev/fuse
    // open to all (a desktop's mode) and a runtime folder of that user's own.
    QStringList asUser(int uid, const QStringList &command)
    {
        const QString runtime = work(QString("runtime-%1").arg(uid));
        QDir().mkpath(runtime);
        ::chown(QFile::encodeName(runtime).constData(), uid, uid);
        ::chmod("/dev/fuse", 0666);
        return QString("setpriv --reuid %1 --regid %1 --clear-groups env").arg(uid).split(' ')
               << "XDG_RUNTIME_DIR=" + runtime << command;
    }
    Ran runAs(int uid, const QStringList &command)
    {
        const QStringList line = asUser(uid, command);
        return run(line[0], line.mid(1));
    }

    QString work(const QString &name) const { return m_work.filePath(name); }
    QString freshFolder(const QString &name)
    {
        QDir(work(name)).removeRecursively();
        QDir().mkpath(work(name));
        return work(name);
    }
    QString makeSample(const QString &name, const QStringList &options)
    {
        const QString iso = work(name);
        if (!QFile::exists(iso)) {
            const Ran made = run(QStringLiteral(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso"),
                                 options + QStringList{iso});
            if (made.code != 0)
                qWarning("make-sample-iso: %s", made.err.constData());
        }
        return iso;
    }
};

} // namespace E2e
