// hdiutil attach / info / unmount and diskutil unmount, run for real on images
// built by our makehybrid, with real FUSE mounts in private runtime folders that
// cleanup() clears even after a failure. The fault cases run as this user
// and, as root, also as a second user (nobody), whose mounts root leaves alone.

#include "DiskTestSupport.h"
#include "FakeVolume.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/syscall.h>

using namespace DiskTest;

namespace {

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
        if (!QFile::exists("/dev/fuse") && !qEnvironmentVariableIsSet("CI"))
            QSKIP("/dev/fuse is missing");
        QVERIFY(m_work.isValid() && stat("/dev/fuse", &m_fuse) == 0 &&
                chmod(qPrintable(m_work.path()), 0755) == 0);
        // A runtime folder of our own, where hdiutil puts this user's mount points.
        QVERIFY(QDir().mkpath(work("runtime")) && chmod(qPrintable(work("runtime")), 0700) == 0);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(work("runtime")));
        m_folder = work("runtime/isoswm");
        QVERIFY(QDir().mkpath(work("nobody")) &&
                (geteuid() != 0 || chown(qPrintable(work("nobody")), 65534, 65534) == 0));
        m_asNobody = QString("setpriv --reuid=65534 --regid=65534 --clear-groups env").split(' ')
                     << "XDG_RUNTIME_DIR=" + work("nobody");
        writeTrees();
        // Built by our makehybrid from a copy named longer than a label can be, as
        // the direct conversion builds: a boot entry, an item left out, a piece grafted in.
        const QString folder = work("CCCOMA_X64FRE_EN-US_DV9_0123456789");
        QVERIFY(!run({"cp", "-rT", work("tree"), folder}).exitCode);
        QVERIFY(QFile::rename(folder + "/sources/install.swm", work("install.swm")));
        QVERIFY(writeFile(folder + "/sources/left-out.bin", 10, 9));
        const Run built =
            run({kHdiutil, "makehybrid", "-eltorito-boot", "boot/etfsboot.com", "-no-emul-boot",
                 "-exclude", "sources/left-out.bin", "-graft",
                 "sources/install.swm=" + work("install.swm"), "-o", work("test.iso"), folder});
        QVERIFY2(built.exitCode == 0, built.err);
        // By genisoimage, written sparse and readable to all; and one without UDF.
        const QString make =
            "set -o pipefail; genisoimage -quiet -R -udf -allow-limited-size -V "
            "OTHER_DISC \"$0\" | cp --sparse=always /dev/stdin \"$1\" && chmod 644 \"$1\"";
        QVERIFY(!run({"bash", "-c", make, work("OTHER_DISC"), work("other.iso")}).exitCode);
        QVERIFY(
            !run({"genisoimage", "-quiet", "-o", work("plain.iso"), work("tree/boot")}).exitCode);
        QVERIFY(writeFile(work("empty.iso"), 0, 11));
        // A stand-in that says how far it got and never ends, beside a copy of our hdiutil.
        QFile standIn(work("stand-in/genisoimage"));
        QVERIFY(QDir().mkpath(work("stand-in")) && standIn.open(QIODevice::WriteOnly));
        standIn.write("#!/bin/bash\necho ' 9.87% done, estimate finish Thu Jan  1 00:00:00 1970' "
                      ">&2\nexec -a \"$0\" sleep 600\n");
        QVERIFY(standIn.setPermissions(QFileDevice::Permissions(0x7755)));
        QVERIFY(QFile::link("genisoimage", work("stand-in/isoswm-udffs")));
        QVERIFY(QFile::copy(kHdiutil, work("stand-in/hdiutil")));
        qputenv("PATH", QFile::encodeName(work("stand-in:")) + qgetenv("PATH")); // from here on
    }
    // Each case starts with no runtime folder and none of our processes.
    void init()
    {
        for (const QString &folder : {m_folder, folderOf(true)})
            QVERIFY2(!QFileInfo::exists(folder) && mountsBelow(folder).isEmpty() &&
                         processesWithArgument(folder + '/').isEmpty(),
                     qPrintable(folder + " is left from an earlier case"));
    }
    void cleanup()
    {
        chmod("/dev/fuse", m_fuse.st_mode & 07777);
        // Mounts, servers and their files left by a failure, and a stand-in
        // that outlived its tool.
        for (const QString &folder : {m_folder, folderOf(true)})
            QVERIFY2(clearRuntimeFolder(folder), qPrintable(folder + " could not be cleared"));
        QVERIFY(endProcessesBelow(work("stand-in")));
    }

    // Each mount its own server and name, listed by info, read-only and byte
    // for byte the tree the image was made of; gone without a trace.
    void mountsListsAndUnmounts()
    {
        const QString odd = work("a folder, with comma/Ünïcödé 日本/my disc.iso");
        QVERIFY(QDir().mkpath(QFileInfo(odd).path()) && QFile::copy(work("other.iso"), odd));
        const QStringList mounts{attach(work("test.iso")), attach(odd), attach(work("other.iso"))};
        QCOMPARE(mounts, QStringList({m_folder + "/CCCOMA_X64FRE_EN-US_DV9_012345",
                                      m_folder + "/OTHER_DISC", m_folder + "/OTHER_DISC 1"}));
        const auto images = info(m_folder);
        QCOMPARE(images.size(), 3);
        QCOMPARE(images[1].imagePath, odd);
        QCOMPARE(images[2].mountPoints, QStringList{mounts[2]});
        QVERIFY(images[0].ownerPid == QCoreApplication::applicationPid() && images[0].ownerAlive);

        QCOMPARE(int(QFileInfo(mounts[0] + "/empty.txt").permissions()), 0x4444);
        QVERIFY(!QFile(mounts[0] + "/new.txt").open(QIODevice::WriteOnly));
        QCOMPARE(treeDifference(work("tree"), mounts[0]), QString());
        QCOMPARE(treeDifference(work("OTHER_DISC"), mounts[2]), QString());

        for (const QString &unknown : {m_work.path(), work("nowhere"), m_folder + "/TEST"})
            QCOMPARE(run({kDiskutil, "unmount", unknown}).exitCode, 1);
        QCOMPARE(run({kDiskutil, "unmount", mounts[1]}).exitCode, 0);
        QCOMPARE(attach(work("other.iso")), mounts[1]); // the freed name is taken again
        for (const QString &mountPoint : mounts)        // a trailing separator names the same mount
            QCOMPARE(run({kHdiutil, "unmount", mountPoint + '/'}).exitCode, 0);
        verifyNothingLeft(m_folder);
    }

    void refusesWhatItCannotMount_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<QByteArray>("reason");
        const QByteArray notUdf = "not a UDF image";
        QTest::newRow("missing") << work("no such.iso") << false << QByteArray("No such file");
        QTest::newRow("ISO 9660 without UDF") << work("plain.iso") << false << notUdf;
        QTest::newRow("empty file") << work("empty.iso") << false << notUdf;
        QTest::newRow("folder") << work("tree") << false << QByteArray("Is a directory");
        if (geteuid() == 0) // as on a system where /dev/fuse is 0600
            QTest::newRow("FUSE closed to the user")
                << work("other.iso") << true << QByteArray("open /dev/fuse: Permission denied");
    }
    void refusesWhatItCannotMount()
    {
        QFETCH(QString, image);
        QFETCH(bool, nobody);
        QFETCH(QByteArray, reason);
        const Run attached = run(as(nobody, {kHdiutil, "attach", image}, 0600));
        QVERIFY2(attached.exitCode == 1 && attached.out.isEmpty() &&
                     saysInOneLine(attached.err, reason),
                 attached.err);
        verifyNothingLeft(folderOf(nobody));
    }

    // A busy mount stays (and still serves); the others go, and soon.
    void unmountFaults_data()
    {
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<QString>("fault");
        for (const bool nobody : geteuid() == 0 ? QList<bool>{false, true} : QList<bool>{false}) {
            const char *user = nobody ? "other user: " : "";
            for (const char *fault : {"busy", "stopped server", "stuck reader", "dead server"})
                QTest::addRow("%s%s", user, fault) << nobody << QString(fault);
        }
    }
    void unmountFaults()
    {
        QFETCH(bool, nobody);
        QFETCH(QString, fault);
        const QString folder = folderOf(nobody), mountPoint = folder + "/OTHER_DISC",
                      file = mountPoint + "/only-in-other.txt";
        // setpriv and env exec the tool: its parent, the owner, is this test.
        const Run attached = run(as(nobody, {kHdiutil, "attach", work("other.iso")}));
        QVERIFY2(attached.out.endsWith('\t' + mountPoint.toUtf8() + '\n'), attached.err);
        const int server = processesWithArgument(mountPoint).value(0);
        QVERIFY(server > 0);
        QVERIFY(fault == "busy" || ::kill(server, fault == "dead server" ? SIGKILL : SIGSTOP) == 0);
        QTRY_VERIFY(fault != "dead server" || processesWithArgument(mountPoint).isEmpty());
        QProcess reader; // holds the file open, or hangs opening it
        if (fault == "busy" || fault == "stuck reader")
            start(&reader, as(nobody, {"/bin/sh", "-c", "exec 3<\"$0\" && exec sleep 600", file}));
        // Only once the file is open, or the open waits on the server: a busy
        // machine may not have got the reader that far yet.
        const QString proc = QString("/proc/%1/").arg(reader.processId());
        if (fault == "busy")
            QTRY_COMPARE(QFile::symLinkTarget(proc + "fd/3"), file);
        if (fault == "stuck reader")
            QTRY_VERIFY(FakeVolume::read(proc + "syscall")
                            .startsWith(QByteArray::number(SYS_openat) + ' '));

        QElapsedTimer took;
        took.start();
        const QStringList force = fault == "stuck reader" ? QStringList{"-force"} : QStringList{};
        const Run unmount = run(as(nobody, QStringList{kHdiutil, "unmount"} + force << mountPoint));
        QVERIFY2(took.elapsed() < (fault == "stopped server" ? 6000 : 1500), unmount.err);
        QCOMPARE(unmount.exitCode, fault == "busy" ? 1 : 0);
        if (fault == "busy") {
            QVERIFY2(saysInOneLine(unmount.err, "busy"), unmount.err);
            QCOMPARE(run(as(nobody, {"/bin/cat", file})).out.size(), 5000);
            return;
        }
        if (fault == "stuck reader") {
            QVERIFY(reader.waitForFinished(2000) && reader.exitCode() != 0);
            // Aborted in the server, or turned away by the connection's end
            // when it had not got that far: released either way.
            const QByteArray said = reader.readAllStandardError();
            QVERIFY2(said.contains("connection abort") || said.contains("not connected"), said);
        }
        verifyNothingLeft(folder);
    }

    // While the owner runs, only it unmounts (another user does not even see
    // the mount); once it ends, the mount goes.
    void ownerEndsTheMount_data()
    {
        QTest::addColumn<bool>("nobody");
        QTest::addColumn<bool>("stopServer");
        QTest::newRow("owner killed") << false << false;
        QTest::newRow("owner killed, server stopped") << false << true;
        if (geteuid() == 0)
            QTest::newRow("other user's owner killed") << true << false;
    }
    void ownerEndsTheMount()
    {
        QFETCH(bool, nobody);
        QFETCH(bool, stopServer);
        const QString folder = folderOf(nobody), mountPoint = folder + "/OTHER_DISC";
        // The owner is the shell that runs attach, and stays as the sleep it becomes.
        QProcess owner;
        start(&owner, as(nobody, {"/bin/bash", "-c", "\"$0\" attach \"$1\" && exec sleep 600",
                                  kHdiutil, work("other.iso")}));
        QTRY_COMPARE(mountsBelow(folder), QStringList{mountPoint});
        const int server = processesWithArgument(mountPoint).value(0);
        QVERIFY(server > 0);
        const Run refused = run({kHdiutil, "unmount", mountPoint});
        const QByteArray why = nobody
                                   ? QByteArray("not a mounted disk image")
                                   : "in use by process " + QByteArray::number(owner.processId());
        QVERIFY2(refused.exitCode == 1 && saysInOneLine(refused.err, why), refused.err);
        QCOMPARE(info(folder).value(0).ownerAlive, !nobody);

        QVERIFY((!stopServer || ::kill(server, SIGSTOP) == 0) &&
                ::kill(owner.processId(), SIGKILL) == 0 && owner.waitForFinished());
        if (stopServer) { // it cannot end by itself; anyone of the user may clear it
            QVERIFY(!info(folder).value(0).ownerAlive);
            QCOMPARE(run({kHdiutil, "unmount", mountPoint}).exitCode, 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(processesWithArgument(mountPoint).isEmpty(), 5000);
        verifyNothingLeft(folder);
    }

    // Our hdiutil beside a FUSE server that never comes up, or on a PATH whose
    // genisoimage never ends: nothing is left, and progress is passed on as it comes.
    void stoppedToolLeavesNothing_data()
    {
        QTest::addColumn<QString>("verb");
        QTest::addColumn<int>("signal");
        QTest::newRow("attach, SIGTERM") << "attach" << SIGTERM;
        QTest::newRow("attach, SIGINT") << "attach" << SIGINT;
        QTest::newRow("attach, SIGHUP") << "attach" << SIGHUP;
        QTest::newRow("makehybrid, SIGTERM") << "makehybrid" << SIGTERM;
    }
    void stoppedToolLeavesNothing()
    {
        QFETCH(QString, verb);
        QFETCH(int, signal);
        const bool attaching = verb == "attach";
        const QString standIn = work(attaching ? "stand-in/isoswm-udffs" : "stand-in/genisoimage");
        const QString out = work(QString("out/") + QTest::currentDataTag());
        QVERIFY(QDir().mkpath(out));
        QProcess stopped;
        start(&stopped,
              QStringList{work("stand-in/hdiutil"), verb} +
                  (attaching ? QStringList{work("other.iso")}
                             : QStringList{"-o", out + "/built.iso", work("OTHER_DISC")}));
        QTRY_VERIFY(attaching ? !processesWithArgument(standIn).isEmpty()
                              : stopped.peek(1 << 16).contains("% done"));
        QCOMPARE(::kill(stopped.processId(), signal), 0);
        QVERIFY(stopped.waitForFinished(5000));
        QCOMPARE(stopped.exitCode(), attaching ? 1 : 128 + signal);
        const QByteArray err = stopped.readAllStandardError();
        QVERIFY2(!attaching || saysInOneLine(err, "attach failed - stopped by signal"), err);
        QTRY_COMPARE(processesWithArgument(standIn), QList<int>());
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        verifyNothingLeft(m_folder);
    }

private:
    // The trees of the images: one laid out like the staging copy of a Windows
    // disc, with the longest names UDF holds (254 characters below U+0100, 127
    // above), and one with a file over 4 GiB.
    void writeTrees() const
    {
        QVERIFY(writeFile(work("tree/boot/etfsboot.com"), 4096, 1));
        QVERIFY(writeFile(work("tree/sources/install.swm"), 3 << 20, 2));
        QVERIFY(writeFile(work("tree/support/Übergröße Café/リリース ノート.txt"), 2049, 3));
        QVERIFY(writeFile(work("tree/empty.txt"), 0, 4) && QDir().mkpath(work("tree/empty dir")));
        QVERIFY(writeFile(work("tree/sources/") + QString(254, 'L'), 10, 5));
        QVERIFY(writeFile(work("tree/") + QString(127, QChar(0x101)), 10, 6));
        // Named as genisoimage names its catalog, which it hides by name.
        QVERIFY(writeFile(work("tree/sources/boot.catalog"), 10, 7));
        QVERIFY(writeFile(work("OTHER_DISC/only-in-other.txt"), 5000, 8));
        // Sparse, with data at the start, across the 4 GiB mark and at the end,
        // where 32-bit offsets would go wrong.
        const qint64 size = (qint64(4) << 30) + (300 << 20) + 123, mark = qint64(4) << 30;
        QFile large(work("OTHER_DISC/install.wim"));
        QVERIFY(writeFile(large.fileName(), 1 << 20, 9) && large.open(QIODevice::ReadWrite));
        for (const qint64 at : {mark - 30000, size - 1000})
            QVERIFY(large.resize(size) && large.seek(at) &&
                    large.write(QByteArray("0123456789abcdef").repeated(4096).left(size - at)) > 0);
    }
    QString work(const QString &name) const { return m_work.filePath(name); }
    QString folderOf(bool nobody) const { return nobody ? work("nobody/isoswm") : m_folder; }
    // The command as the other user, with /dev/fuse open to it (0666, as on a
    // desktop) or not, until cleanup().
    QStringList as(bool nobody, const QStringList &command, mode_t fuseMode = 0666) const
    {
        if (nobody)
            chmod("/dev/fuse", fuseMode);
        return nobody ? m_asNobody + command : command;
    }
    static void start(QProcess *process, const QStringList &command)
    {
        process->start(command[0], command.mid(1));
        QVERIFY(process->waitForStarted());
    }
    // No mount, no server, and the runtime folder itself taken away (by the
    // last server as it goes, which may take a moment under load).
    static void verifyNothingLeft(const QString &folder)
    {
        QCOMPARE(mountsBelow(folder), QStringList());
        QCOMPARE(processesWithArgument(folder), QList<int>());
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(all) +
                                      QDir(folder + "/.state").entryList(all),
                                  QStringList(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(folder), 5000);
    }

    // Every path holds what genisoimage reads as syntax in graft points
    // ('\' and '=') and exclusions ('[' and '\').
    QTemporaryDir m_work{QDir::tempPath() + "/tst_disktools [\\=]-XXXXXX"};
    QString m_folder;
    struct stat m_fuse {};
    QStringList m_asNobody; // runs a command as nobody, with a runtime folder of its own
};

QTEST_GUILESS_MAIN(TestDiskTools)
#include "tst_disktools.moc"
