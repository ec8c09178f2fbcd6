// hdiutil attach / info / unmount and diskutil unmount, run for real: images
// made by genisoimage, real FUSE mounts in private runtime folders that
// cleanup() clears even after a failure. The fault cases run as this user
// and, as root, also as a second user (nobody), whose mounts root leaves alone.

#include "DiskTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace DiskTest;

namespace {

enum Fault { Busy, StoppedServer, StuckReader, DeadServer };

// /dev/fuse as a case run as the other user needs it (0666 as on a
// desktop, or 0600), until the guard goes.
auto fuseDeviceMode(bool nobody, mode_t mode)
{
    struct stat device {};
    stat("/dev/fuse", &device);
    if (nobody)
        chmod("/dev/fuse", mode);
    return qScopeGuard([device] { chmod("/dev/fuse", device.st_mode & 07777); });
}
bool saysInOneLine(const QByteArray &err, const QByteArray &text)
{
    return err.contains(text) && err.count('\n') == 1;
}

} // namespace

class TestDiskTools : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFile::exists("/dev/fuse")) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("/dev/fuse is missing: the disk tools cannot be tested");
            QSKIP("/dev/fuse is missing");
        }
        QVERIFY(m_work.isValid());
        QVERIFY(QFile::setPermissions(m_work.path(), QFileDevice::Permissions(0x7755)));
        m_folder = useRuntimeFolder(m_work.path());
        QVERIFY(QDir().mkpath(work("nobody")));
        if (geteuid() == 0)
            QCOMPARE(chown(qPrintable(work("nobody")), 65534, 65534), 0);
        QVERIFY(writeFile(work("tree/autorun.inf"), 48, 1));
        QVERIFY(writeFile(work("tree/sources/sxs/deep/nested/file.cab"), 3 * 1024 * 1024 + 1, 3));
        QVERIFY(writeFile(work("tree/support/Übergröße Ordner/Straße und Café.txt"), 2049, 4));
        QVERIFY(writeFile(work("tree/support/リリース ノート/説明.txt"), 100, 5));
        QVERIFY(writeFile(work("tree/empty.txt"), 0, 6));
        QVERIFY(QDir().mkpath(work("tree/empty folder")));
        // Over 4 GiB and sparse, with data at the start, across the 4 GiB mark
        // and at the end, where 32-bit offsets would go wrong.
        const qint64 largeSize = (qint64(4) << 30) + (300 << 20) + 123;
        QVERIFY(writeFile(work("tree/sources/install.wim"), 1 << 20, 7));
        QFile large(work("tree/sources/install.wim"));
        const QByteArray marker = QByteArray("0123456789abcdef").repeated(4096);
        QVERIFY(large.open(QIODevice::ReadWrite) && large.resize(largeSize));
        QVERIFY(large.seek((qint64(4) << 30) - marker.size() / 2) &&
                large.write(marker) == marker.size());
        QVERIFY(large.seek(largeSize - 10000) && large.write(marker.left(10000)) == 10000);
        large.close();
        QCOMPARE(makeUdfIso(work("tree"), "TEST_UDF_LABEL", work("test.iso")), QString());

        QVERIFY(writeFile(work("other/only-in-other.txt"), 5000, 8));
        QCOMPARE(makeUdfIso(work("other"), "OTHER_DISC", work("other.iso")), QString());
        QCOMPARE(
            run("genisoimage", {"-quiet", "-R", "-o", work("plain.iso"), work("other")}).exitCode,
            0);
        QVERIFY(writeFile(work("random.bin"), 1 << 20, 9));
        QVERIFY(writeFile(work("empty.iso"), 0, 10));
        for (const char *image : {"test.iso", "other.iso", "plain.iso"})
            QVERIFY(QFile::setPermissions(work(image), QFileDevice::Permissions(0x6444)));
    }
    void cleanup()
    {
        forceCleanup(m_folder);
        forceCleanup(folderOf(true));
        forceCleanup(work("stand-in")); // a stand-in that outlived what it stood in for
    }

    void attachInfoUnmountRoundTrip()
    {
        const QString mountPoint = attach(work("test.iso"));
        QCOMPARE(mountPoint, m_folder + "/TEST_UDF_LABEL");
        QCOMPARE(mountsBelow(m_folder), QStringList{mountPoint});
        const QList<AttachedImage> images = info(m_folder);
        QCOMPARE(images.size(), 1);
        QCOMPARE(images[0].imagePath, work("test.iso"));
        QCOMPARE(images[0].mountPoints, QStringList{mountPoint});
        QCOMPARE(images[0].devEntries, QStringList{"/dev/fuse"});
        QCOMPARE(images[0].ownerPid, QCoreApplication::applicationPid());
        QVERIFY(images[0].ownerAlive);

        // Read-only (0444 and 0555), byte for byte the tree the image was made of.
        QCOMPARE(int(QFileInfo(mountPoint + "/autorun.inf").permissions()), 0x4444);
        QCOMPARE(int(QFileInfo(mountPoint + "/sources").permissions()), 0x5555);
        QVERIFY(!QFile(mountPoint + "/new.txt").open(QIODevice::WriteOnly));
        QCOMPARE(treeDifference(work("tree"), mountPoint), QString());

        for (const QString &unknown : {m_work.path(), work("nowhere"), m_folder + "/TEST"})
            QCOMPARE(run(kDiskutil, {"unmount", unknown}).exitCode, 1);
        // Written with a trailing separator it is the same mount point.
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint + '/'}).exitCode, 0);
        QVERIFY(mountsBelow(m_folder).isEmpty());
        QVERIFY(processesWithArgument(mountPoint).isEmpty());
        QCOMPARE(leftovers(m_folder), QStringList());
    }

    void severalMountsEachWithItsServer()
    {
        const QString odd = work("a folder, with comma/Ünïcödé Ordner 日本/my disc.iso");
        QVERIFY(QDir().mkpath(QFileInfo(odd).path()) && QFile::copy(work("other.iso"), odd));
        const QStringList mounts{attach(work("test.iso")), attach(odd), attach(work("other.iso"))};
        QCOMPARE(mounts, QStringList({m_folder + "/TEST_UDF_LABEL", m_folder + "/OTHER_DISC",
                                      m_folder + "/OTHER_DISC 1"}));
        const QList<AttachedImage> images = info(m_folder);
        QCOMPARE(images.size(), 3);
        QCOMPARE(images[1].imagePath, odd);
        QCOMPARE(images[2].mountPoints, QStringList{mounts[2]});
        QVERIFY(!QFileInfo::exists(mounts[0] + "/only-in-other.txt"));

        QCOMPARE(run(kDiskutil, {"unmount", mounts[1]}).exitCode, 0);
        QCOMPARE(treeDifference(work("other"), mounts[2]), QString());
        QCOMPARE(attach(work("other.iso")), mounts[1]); // the freed name is taken again
        for (const QString &mountPoint : mounts)
            QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
        QVERIFY(info(m_folder).isEmpty());
        QCOMPARE(leftovers(m_folder), QStringList());
    }

    void refusesWhatItCannotMount_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("missing") << work("no such.iso") << false << QByteArray("No such file");
        QTest::newRow("ISO 9660 without UDF") << work("plain.iso") << false << kNotUdf;
        QTest::newRow("random bytes") << work("random.bin") << false << kNotUdf;
        QTest::newRow("empty file") << work("empty.iso") << false << kNotUdf;
        QTest::newRow("folder") << work("tree") << false << QByteArray("Is a directory");
        QTest::newRow("FUSE closed to the user")
            << work("other.iso") << true << QByteArray("open /dev/fuse: Permission denied");
    }
    void refusesWhatItCannotMount()
    {
        QFETCH(QString, image);
        QFETCH(bool, nobody);
        QFETCH(QByteArray, reason);
        if (nobody && geteuid() != 0)
            QSKIP("only root runs the tools as another user");
        const auto restore = fuseDeviceMode(nobody, 0600);
        const Run attached = tool(nobody, {kHdiutil, "attach", image});
        QCOMPARE(attached.exitCode, 1);
        QVERIFY(attached.out.isEmpty());
        QVERIFY2(saysInOneLine(attached.err, reason), attached.err);
        QVERIFY(mountsBelow(folderOf(nobody)).isEmpty());
        QCOMPARE(leftovers(folderOf(nobody)), QStringList());
    }

    void unmountFaults_data()
    {
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("force");
        QTest::addColumn<int>("exitCode");
        for (const bool nobody : {false, true}) {
            const char *user = nobody ? "other user: " : "";
            QTest::addRow("%sbusy", user) << nobody << int(Busy) << false << 1;
            QTest::addRow("%sbusy, -force", user) << nobody << int(Busy) << true << 0;
            QTest::addRow("%sstopped server", user) << nobody << int(StoppedServer) << false << 0;
            QTest::addRow("%sstuck reader, -force", user)
                << nobody << int(StuckReader) << true << 0;
            QTest::addRow("%sdead server", user) << nobody << int(DeadServer) << false << 0;
        }
    }
    void unmountFaults()
    {
        QFETCH(bool, nobody);
        QFETCH(int, fault);
        QFETCH(bool, force);
        QFETCH(int, exitCode);
        if (nobody && geteuid() != 0)
            QSKIP("only root runs the tools as another user");
        const auto restore = fuseDeviceMode(nobody, 0666);
        // setpriv and env exec the tool: its parent, the owner, is this test.
        const Run attached = tool(nobody, {kHdiutil, "attach", work("other.iso")});
        const QString folder = folderOf(nobody), mountPoint = folder + "/OTHER_DISC";
        QCOMPARE(QString::fromUtf8(attached.out).section('\t', -1).trimmed(), mountPoint);
        const QString file = mountPoint + "/only-in-other.txt";
        const int server = processesWithArgument(mountPoint).value(0);
        QVERIFY(server > 0);
        QProcess reader;
        const auto reap = qScopeGuard([&] { reader.kill(), reader.waitForFinished(); });
        if (fault == Busy) {
            start(&reader, nobody, {"/bin/sh", "-c", "exec 3<\"$0\"; exec sleep 600", file});
            QTRY_VERIFY(
                !QFile::symLinkTarget(QString("/proc/%1/fd/3").arg(reader.processId())).isEmpty());
        } else if (fault == DeadServer) {
            QCOMPARE(::kill(server, SIGKILL), 0);
            QTRY_VERIFY(processesWithArgument(mountPoint).isEmpty());
        } else {
            QCOMPARE(::kill(server, SIGSTOP), 0);
        }
        if (fault == StuckReader) {
            start(&reader, nobody, {"/bin/cat", file});
            QVERIFY(!reader.waitForFinished(300));
        }

        QElapsedTimer took;
        took.start();
        const QStringList options = force ? QStringList{"-force"} : QStringList{};
        const Run unmounted =
            tool(nobody, QStringList{kHdiutil, "unmount"} + options << mountPoint);
        QVERIFY2(took.elapsed() < (fault == StoppedServer ? 6000 : 1500), unmounted.err);
        QCOMPARE(unmounted.exitCode, exitCode);
        if (exitCode != 0) {
            QVERIFY2(saysInOneLine(unmounted.err, "busy"), unmounted.err);
            QCOMPARE(tool(nobody, {"/bin/cat", file}).out.size(), 5000); // still served
            return;
        }
        QVERIFY(mountsBelow(folder).isEmpty());
        QVERIFY(processesWithArgument(mountPoint).isEmpty());
        QCOMPARE(leftovers(folder), QStringList());
        if (fault == StuckReader) {
            QVERIFY(reader.waitForFinished(2000) && reader.exitCode() != 0);
            QVERIFY(reader.readAllStandardError().contains("connection abort"));
        }
    }

    void ownerEndsTheMount_data()
    {
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<bool>("stopServer");
        QTest::newRow("owner killed") << false << false;
        QTest::newRow("owner killed, server stopped") << false << true;
        QTest::newRow("other user's owner killed") << true << false;
    }
    void ownerEndsTheMount()
    {
        QFETCH(bool, nobody);
        QFETCH(bool, stopServer);
        if (nobody && geteuid() != 0)
            QSKIP("only root runs the tools as another user");
        const auto restore = fuseDeviceMode(nobody, 0666);
        const QString folder = folderOf(nobody), mountPoint = folder + "/OTHER_DISC";
        // The owner is the shell that runs attach, and stays as the sleep it becomes.
        QProcess owner;
        start(&owner, nobody,
              {"/bin/bash", "-c", "\"$0\" attach \"$1\" && exec sleep 600", kHdiutil,
               work("other.iso")});
        QTRY_COMPARE(mountsBelow(folder), QStringList{mountPoint});
        const int server = processesWithArgument(mountPoint).value(0);

        // While it runs, nobody else unmounts it; another user does not even see it.
        const Run refused = run(kHdiutil, {"unmount", mountPoint});
        QCOMPARE(refused.exitCode, 1);
        const QByteArray why = nobody
                                   ? QByteArray("not a mounted disk image")
                                   : "in use by process " + QByteArray::number(owner.processId());
        QVERIFY2(saysInOneLine(refused.err, why), refused.err);
        QCOMPARE(info(folder).value(0).ownerAlive, !nobody);
        if (nobody)
            QCOMPARE(run(kHdiutil, {"unmount", "-force", mountPoint}).exitCode, 1);

        if (stopServer)
            QCOMPARE(::kill(server, SIGSTOP), 0);
        QCOMPARE(::kill(owner.processId(), SIGKILL), 0);
        QVERIFY(owner.waitForFinished());
        if (stopServer) { // it cannot end by itself; anyone of the user may clear it
            QCOMPARE(info(folder).value(0).ownerAlive, false);
            QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(mountsBelow(folder).isEmpty(), 5000);
        QTRY_VERIFY(processesWithArgument(mountPoint).isEmpty());
        QCOMPARE(leftovers(folder), QStringList());
    }

    void stoppedToolLeavesNothing_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<int>("signal");
        QTest::newRow("attach, SIGTERM") << "attach" << SIGTERM;
        QTest::newRow("attach, SIGINT") << "attach" << SIGINT;
        QTest::newRow("attach, SIGHUP") << "attach" << SIGHUP;
        QTest::newRow("makehybrid, SIGKILL") << "makehybrid" << SIGKILL;
    }
    void stoppedToolLeavesNothing()
    {
        QFETCH(QString, verb);
        QFETCH(int, signal);
        // Our hdiutil beside a FUSE server that never comes up, or on a PATH
        // whose genisoimage never ends.
        const bool attaching = verb == "attach";
        const QString tools = standIn(attaching ? "isoswm-udffs" : "genisoimage");
        QVERIFY(!tools.isEmpty());
        QProcess stopped;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PATH", tools + ':' + environment.value("PATH"));
        stopped.setProcessEnvironment(environment);
        stopped.start(tools + "/hdiutil", attaching
                                              ? QStringList{verb, work("other.iso")}
                                              : QStringList{verb, "-iso", "-udf", "-o",
                                                            work("built.iso"), work("other")});
        QTRY_VERIFY(standInPid(tools) > 0);
        QCOMPARE(::kill(stopped.processId(), signal), 0);
        QVERIFY(stopped.waitForFinished(5000));
        QTRY_VERIFY(!QFileInfo::exists(QString("/proc/%1").arg(standInPid(tools))));
        if (attaching) {
            QCOMPARE(stopped.exitCode(), 1);
            const QByteArray err = stopped.readAllStandardError();
            QVERIFY2(saysInOneLine(err, "attach failed - stopped by signal"), err);
            QCOMPARE(leftovers(m_folder), QStringList());
        }
    }

private:
    static inline const QByteArray kNotUdf = "not a UDF image";

    QString work(const QString &name) const { return m_work.filePath(name); }
    QString folderOf(bool nobody) const { return nobody ? work("nobody/isoswm") : m_folder; }
    QStringList command(bool nobody, const QStringList &argv) const
    {
        const QString asNobody = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups "
                                 "/usr/bin/env XDG_RUNTIME_DIR=" +
                                 work("nobody");
        return nobody ? asNobody.split(' ') + argv : argv;
    }
    Run tool(bool nobody, const QStringList &argv) const
    {
        const QStringList line = command(nobody, argv);
        return run(line[0], line.mid(1));
    }
    void start(QProcess *process, bool nobody, const QStringList &argv) const
    {
        const QStringList line = command(nobody, argv);
        process->start(line[0], line.mid(1));
        QVERIFY(process->waitForStarted());
    }
    // A fresh folder with a copy of our hdiutil and a stand-in `name` that
    // notes its pid beside itself and waits.
    QString standIn(const QString &name) const
    {
        const QString folder = work("stand-in");
        QDir(folder).removeRecursively();
        QFile script(folder + '/' + name);
        if (!QDir().mkpath(folder) || !QFile::copy(kHdiutil, folder + "/hdiutil") ||
            !script.open(QIODevice::WriteOnly))
            return QString();
        script.write("#!/bin/bash\necho $$ > \"$0.part\" && mv \"$0.part\" \"$0.pid\"\n"
                     "exec -a \"$0\" sleep 600\n");
        script.setPermissions(QFileDevice::Permissions(0x7755));
        return folder;
    }
    int standInPid(const QString &folder) const
    {
        QFile pid(folder + '/' + QDir(folder).entryList({"*.pid"}).value(0));
        return pid.open(QIODevice::ReadOnly) ? pid.readAll().trimmed().toInt() : 0;
    }
    // What a mount left in a runtime folder besides the folder's own lock and state.
    QStringList leftovers(const QString &folder) const
    {
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QStringList left = QDir(folder).entryList(all) + QDir(folder + "/.state").entryList(all);
        left.removeAll(".lock");
        left.removeAll(".state");
        return left;
    }

    QTemporaryDir m_work;
    QString m_folder; // where hdiutil puts this user's mount points
};

QTEST_GUILESS_MAIN(TestDiskTools)
#include "tst_disktools.moc"
