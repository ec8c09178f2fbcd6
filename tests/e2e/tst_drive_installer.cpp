// USB installers made for real with isoswm-cli --drive: the disk service
// (UDisks2), loop devices made through it, wimlib, mtools and FUSE; the stick
// looked at afterwards without mounting it.

#include "E2eSupport.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace E2e;

namespace {

constexpr qint64 kMiB = 1 << 20;

QString text(const Ran &ran)
{
    return QString::fromUtf8(ran.out + ran.err);
}

// The first and last MiB of a drive: where its partition tables are.
QByteArray ends(const QString &device)
{
    // QFile takes a block device for a sequential one.
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDONLY | O_CLOEXEC);
    QByteArray both(2 * kMiB, '?');
    const qint64 size = fd < 0 ? 0 : ::lseek(fd, 0, SEEK_END);
    const bool read = size >= 2 * kMiB && ::pread(fd, both.data(), kMiB, 0) == kMiB &&
                      ::pread(fd, both.data() + kMiB, kMiB, size - kMiB) == kMiB;
    if (fd >= 0)
        ::close(fd);
    return read ? both : QByteArray();
}

// Writes to the loop device at `mbps` MB/s, as a USB stick would take them: a
// blkio cgroup (or cgroup v2's io.max) that the command is started in.
struct Throttle {
    QString group;
    QString file; // the limit's file
    QString line; // "MAJOR:MINOR BYTES" or "MAJOR:MINOR wbps=BYTES"
    explicit Throttle(const QString &device, int mbps)
    {
        struct stat info;
        if (::stat(QFile::encodeName(device).constData(), &info) != 0)
            return;
        const QString id = QString("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev));
        const QString name = QString("isoswm-test-%1").arg(::getpid());
        const qint64 bytes = qint64(mbps) * 1000 * 1000;
        if (QFileInfo("/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device").exists()) {
            group = "/sys/fs/cgroup/blkio/" + name;
            file = "blkio.throttle.write_bps_device", line = id + ' ' + QString::number(bytes);
        } else if (QFile("/sys/fs/cgroup/cgroup.controllers").open(QIODevice::ReadOnly) &&
                   QFileInfo("/sys/fs/cgroup/cgroup.subtree_control").exists()) {
            group = "/sys/fs/cgroup/" + name;
            file = "io.max", line = id + " wbps=" + QString::number(bytes);
        }
        QFile limit(group + '/' + file);
        if (group.isEmpty() || !QDir().mkpath(group) || !limit.open(QIODevice::WriteOnly) ||
            limit.write(line.toUtf8()) <= 0)
            group.clear();
    }
    ~Throttle()
    {
        if (!group.isEmpty())
            QDir().rmdir(group);
    }
    // The command, started inside the group.
    QStringList wrap(const QStringList &command) const
    {
        return QStringList{"bash", "-c", R"(echo $$ >"$0/cgroup.procs" && exec "$@")", group} +
               command;
    }
};

} // namespace

class TestDriveInstaller : public QObject, public Workspace {
    Q_OBJECT
    QStringList m_processesBefore;
    QStringList m_devices; // loop devices made and not yet deleted

    // A disk image of `size` bytes attached through the disk service, as a
    // user would: its ends filled with a pattern, so a change shows.
    QString makeStick(const QString &name, qint64 size)
    {
        QFile file(work(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || !file.resize(size))
            return {};
        const QByteArray pattern = QByteArray("isoswm").repeated(kMiB / 6 + 1).left(kMiB);
        file.write(pattern);
        file.seek(size - kMiB);
        file.write(pattern);
        file.close();
        const Ran setup =
            run("udisksctl", {"loop-setup", "--no-user-interaction", "-f", file.fileName()});
        const QString device =
            QString::fromUtf8(setup.out).section(" as ", 1).section('.', 0, 0).trimmed();
        if (!device.isEmpty())
            m_devices << device;
        return device;
    }
    void deleteStick(const QString &device)
    {
        run("blockdev", {"--setrw", device});
        run("udisksctl", {"unmount", "--no-user-interaction", "-b", device + "p1"});
        run("partx", {"-d", device});
        run("udisksctl", {"loop-delete", "--no-user-interaction", "-b", device});
        m_devices.removeAll(device);
    }
    // What a fake stick was told: offset, length, and 1 when a partition
    // table was on it after the write.
    static QList<QList<qint64>> writesIn(const QString &log)
    {
        QList<QList<qint64>> writes;
        QFile file(log);
        file.open(QIODevice::ReadOnly);
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const QList<QByteArray> f = line.split(' '); f.size() == 3)
                writes << QList<qint64>{f[0].toLongLong(), f[1].toLongLong(), f[2].toLongLong()};
        return writes;
    }
    // Nothing of a run is left: no temporary files, no mount, no process.
    void verifyNothingLeft(const QString &tmp)
    {
        QVERIFY2(entries(tmp).isEmpty(), qPrintable(entries(tmp).join(' ')));
        QCOMPARE(ourMounts(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(ourProcesses(), m_processesBefore, 5000);
    }
    // A mounted partition on the stick, as on a stick used before.
    void mountAPartition(const QString &device, QString *mountPoint)
    {
        const Ran table =
            run("bash", {"-c", "echo 'label: gpt\nstart=2048' | sfdisk -q " + device +
                                   " && partx -a " + device + " && mkfs.ext4 -q " + device + "p1"});
        QVERIFY2(table.code == 0, qPrintable(text(table)));
        // Once udev has probed the new file system and the service has seen it.
        run("udevadm", {"trigger", "--action=change", "--settle", device + "p1"});
        Ran mounted;
        for (int i = 0; i < 100; ++i, QTest::qWait(200))
            if ((mounted =
                     run("udisksctl", {"mount", "--no-user-interaction", "-b", device + "p1"}))
                    .code == 0)
                break;
        QVERIFY2(mounted.code == 0, qPrintable(text(mounted)));
        *mountPoint = QString::fromUtf8(mounted.out).section(" at ", 1).trimmed();
        QVERIFY(QFileInfo(*mountPoint).isDir());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_processesBefore = ourProcesses();
        QTRY_VERIFY_WITH_TIMEOUT(run("udisksctl", {"status"}).code == 0, 10000);
    }
    void cleanup()
    {
        for (const QString &device : QStringList(m_devices))
            deleteStick(device);
    }

    // The stick holds the source's files and the verified pieces, on one
    // FAT32 partition of a GPT, and checks clean; the run leaves nothing.
    void makesAnInstaller_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("image");
        QTest::addColumn<qint64>("stickMiB");
        QTest::addColumn<bool>("mounted");
        QTest::newRow("solid install.wim, two editions, over a stick in use")
            << QStringList{"--solid", "--editions", "2", "--wim-mib", "40"} << "install.wim"
            << 200LL << true;
        QTest::newRow("install.esd, with boot loaders")
            << QStringList{"--esd", "--bootable", "--wim-mib", "24"} << "install.esd" << 160LL
            << false;
        // Over 2048 MiB, so that the pieces are two; smaller for a quick run.
        const QString mib = qEnvironmentVariable("ISOSWM_E2E_SAMPLE_MIB", "2100");
        QTest::newRow("install.wim in two pieces")
            << QStringList{"--wim-mib", mib} << "install.wim" << mib.toLongLong() + 400 << false;
    }
    void makesAnInstaller()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, image);
        QFETCH(qint64, stickMiB);
        QFETCH(bool, mounted);
        const QString sample = makeSample(QString(QTest::currentDataTag()) + ".iso", options);
        const QString device = makeStick("stick.img", stickMiB * kMiB);
        QVERIFY(QFile::exists(sample) && !device.isEmpty());
        QString mountPoint;
        if (mounted)
            mountAPartition(device, &mountPoint);
        if (QTest::currentTestFailed())
            return;
        const QString tmp = freshFolder("tmp");
        const Ran made = run(kCli, {"--drive", device, "--yes", sample}, tmp);
        QVERIFY2(made.code == 0, qPrintable(text(made)));
        QVERIFY(made.err.contains("USB installer completed"));
        verifyNothingLeft(tmp);
        if (mounted)
            QVERIFY(!run("findmnt", {mountPoint}).out.contains(mountPoint.toUtf8()));

        const Ran dump = run("sfdisk", {"-d", device});
        QVERIFY2(dump.out.contains("label: gpt\n"), dump.out.constData());
        QCOMPARE(QString::fromUtf8(dump.out).count("start="), 1);
        QVERIFY2(dump.out.contains("start=        2048") &&
                     dump.out.contains("type=EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"),
                 dump.out.constData());
        const Ran probed = run("blkid", {"-p", "-O", "1048576", device});
        QVERIFY2(probed.out.contains(R"(TYPE="vfat")") &&
                     probed.out.contains(R"(LABEL="CCCOMA_X64F")"),
                 probed.out.constData());
        // The file system checks clean, read through a read-only window on it.
        const qint64 sectors = QString::fromUtf8(dump.out)
                                   .section("size=", 1)
                                   .section(',', 0, 0)
                                   .trimmed()
                                   .toLongLong();
        const Ran window = run("losetup", {"-f", "--show", "-r", "-o", "1048576", "--sizelimit",
                                           QString::number(sectors * 512), device});
        const QString partition = QString::fromUtf8(window.out).trimmed();
        QVERIFY2(window.code == 0, qPrintable(text(window)));
        const Ran checked = run("fsck.fat", {"-n", partition});
        run("losetup", {"-d", partition});
        QVERIFY2(checked.code == 0, qPrintable(text(checked)));

        // Every file read back from the stick is the source's, byte for byte.
        const QString back = freshFolder("back");
        const Ran copied = run("mcopy", {"-s", "-n", "-i", device + "@@1M", "::/*", back});
        QVERIFY2(copied.code == 0, qPrintable(text(copied)));
        QVERIFY(QFile::exists(back + "/efi/boot/bootx64.efi"));
        QVERIFY(!QFile::exists(back + "/sources/install.wim") &&
                !QFile::exists(back + "/sources/install.esd"));
        const Mounted source({sample});
        QVERIFY(!source[0].isEmpty());
        QCOMPARE(diffTrees(source[0], back, {"install.*", "install*.swm"}), QString());
        const QString pieces = back + "/sources";
        const QStringList reference{"--ref=" + pieces + "/install*.swm"};
        const Ran verified = run("wimverify", QStringList{pieces + "/install.swm"} + reference);
        QVERIFY2(verified.code == 0, qPrintable(text(verified)));
        const QRegularExpression compression("Compression:[^\n]*\n");
        QCOMPARE(editionsOf(pieces + "/install.swm", reference).remove(compression),
                 editionsOf(source[0] + "/sources/" + image).remove(compression));
        if (QString(QTest::currentDataTag()).contains("two pieces") && stickMiB > 2048 + 400)
            QVERIFY(QFile::exists(pieces + "/install2.swm"));
        QDir(back).removeRecursively();
        // A computer starts it by UEFI, from the stick itself once it is unplugged.
        if (options.contains("--bootable")) {
            deleteStick(device);
            const Ran booted = bootCheck("uefi", "usb", work("stick.img"));
            qInfo("%s", booted.out.trimmed().constData());
            QVERIFY2(booted.code == 0, booted.out.constData());
        }
    }

    // Refused with the reason before anything is written: the drive's ends
    // are as they were.
    void refusals_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        QTest::newRow("too small a drive") << "small" << 1 << "holds 67.1 MB";
        QTest::newRow("a partition") << "partition" << 2 << "p1 is a partition";
        QTest::newRow("no --yes off a terminal") << "no yes" << 2 << "give --yes";
        QTest::newRow("a read-only drive") << "read-only" << 2 << "read-only";
        QTest::newRow("a file system in use") << "busy" << 1 << "could not be unmounted";
        QTest::newRow("the image on the drive")
            << "source on it" << 1 << "image to convert is on it";
        QTest::newRow("a desktop user refused by polkit")
            << "polkit" << 1 << "Permission to write to Disk image stick.img was not given";
        QTest::newRow("a full temporary folder") << "full" << 1 << "not enough free space";
        QTest::newRow("not a drive") << "null" << 2 << "not a drive the disk service knows";
    }
    void refusals()
    {
        QFETCH(QString, refusal);
        QFETCH(int, status);
        QFETCH(QString, said);
        if ((refusal == "full" || refusal == "polkit") && ::geteuid() != 0)
            QSKIP("a small file system, or another user, takes root");
        QString sample = makeSample("refused.iso", {"--wim-mib", "32"});
        QString device = makeStick("stick.img", (refusal == "small" ? 64 : 200) * kMiB);
        QVERIFY(!device.isEmpty());
        QString tmp = freshFolder("tmp"), mountPoint;
        std::optional<QFile> held;
        if (refusal == "partition" || refusal == "busy" || refusal == "source on it") {
            mountAPartition(device, &mountPoint);
            if (QTest::currentTestFailed())
                return;
            if (refusal == "source on it") {
                QVERIFY(QFile::copy(sample, mountPoint + "/refused.iso"));
                sample = mountPoint + "/refused.iso";
            }
            held.emplace(mountPoint + "/held");
            QVERIFY(refusal != "busy" || held->open(QIODevice::WriteOnly));
        }
        const QByteArray before = ends(device);
        QVERIFY(!before.isEmpty());
        if (refusal == "read-only") {
            // Told to the service as a write-protect switch would be.
            QVERIFY(run("blockdev", {"--setro", device}).code == 0);
            run("udevadm", {"trigger", "--action=change", "--settle", device});
            QTRY_VERIFY(QString::fromUtf8(run("udisksctl", {"info", "-b", device}).out)
                            .contains(QRegularExpression("ReadOnly: +true")));
        }
        const auto unmountTmpfs = qScopeGuard([&] {
            if (refusal == "full")
                run("umount", {"-l", tmp});
        });
        if (refusal == "full")
            QVERIFY(run("mount", {"-t", "tmpfs", "-o", "size=40m", "tmpfs", tmp}).code == 0);
        QStringList arguments{"--drive",
                              refusal == "partition" ? device + "p1"
                              : refusal == "null"    ? QString("/dev/null")
                                                     : device,
                              sample};
        if (refusal != "no yes")
            arguments.prepend("--yes");
        // As a user with no session, as polkit sees a desktop user who
        // dismissed its password dialog: refused.
        if (refusal == "polkit") {
            ::chown(QFile::encodeName(tmp).constData(), 65534, 65534);
            arguments = asUser(65534, QStringList{"TMPDIR=" + tmp, kCli} + arguments);
        } else {
            arguments.prepend(kCli);
        }
        const Ran refused = run(arguments[0], arguments.mid(1), tmp);
        QCOMPARE(refused.code, status);
        QVERIFY2(text(refused).contains(said), qPrintable(text(refused)));
        held.reset();
        if (!mountPoint.isEmpty())
            run("udisksctl", {"unmount", "--no-user-interaction", "-b", device + "p1"});
        // A mounted file system writes near the end by itself; the table at
        // the start is the drive's, untouched.
        if (mountPoint.isEmpty())
            QVERIFY(ends(device) == before);
        else
            QVERIFY(ends(device).left(kMiB) == before.left(kMiB));
        verifyNothingLeft(tmp);
    }

    // Sticks on FUSE under a loop device, which tell each write they take.
    // One that keeps less than it claims is refused before the installer's
    // first byte (the probe's few blocks are all it gets); on a genuine one
    // no partition table shows until every other byte is written.
    void fakeSticks_data()
    {
        QTest::addColumn<qint64>("claimedMiB");
        QTest::addColumn<qint64>("keptMiB");
        QTest::newRow("genuine") << 400LL << 400LL;
        QTest::newRow("keeps 1600 of 3000") << 3000LL << 1600LL;
        QTest::newRow("keeps 200 of 1200") << 1200LL << 200LL;
    }
    void fakeSticks()
    {
        QFETCH(qint64, claimedMiB);
        QFETCH(qint64, keptMiB);
        const QString sample = makeSample("refused.iso", {"--wim-mib", "32"});
        const QString mount = freshFolder("fake"), log = work("writes.log");
        QProcess fake;
        fake.start(FAKE_STICK, {mount, work("kept"), QString::number(claimedMiB * kMiB),
                                QString::number(keptMiB * kMiB), "wrap", log});
        const auto unmount = qScopeGuard([&] {
            cleanup();
            run("umount", {"-l", mount});
            fake.waitForFinished(10000);
        });
        QTRY_COMPARE(QFileInfo(mount + "/stick").size(), claimedMiB * kMiB);
        const QString setup = QString::fromUtf8(
            run("udisksctl", {"loop-setup", "--no-user-interaction", "-f", mount + "/stick"}).out);
        const QString device = setup.section(" as ", 1).section('.', 0, 0).trimmed();
        QVERIFY2(!device.isEmpty(), qPrintable(setup));
        m_devices << device;
        const QString tmp = freshFolder("tmp");
        const Ran made = run(kCli, {"--drive", device, "--yes", sample}, tmp);
        verifyNothingLeft(tmp);
        const QList<QList<qint64>> writes = writesIn(log);
        qint64 written = 0;
        for (const QList<qint64> &w : writes)
            written += w[1];
        if (claimedMiB != keptMiB) {
            QCOMPARE(made.code, 1);
            QVERIFY2(text(made).contains("seems to hold less than the") &&
                         text(made).contains("It may be counterfeit or faulty; use another drive."),
                     qPrintable(text(made)));
            QVERIFY2(written < 64 * kMiB, qPrintable(QString::number(written)));
            return;
        }
        QVERIFY2(made.code == 0, qPrintable(text(made)));
        const qsizetype first = std::find_if(writes.begin(), writes.end(), [](auto &w) {
                                    return w[2] == 1;
                                }) - writes.begin();
        QVERIFY(first < writes.size() && writes.last()[2] == 1);
        const qint64 size = claimedMiB * kMiB;
        for (qsizetype i = first; i < writes.size(); ++i)
            QVERIFY2(writes[i][0] + writes[i][1] <= kMiB || writes[i][0] >= size - kMiB,
                     qPrintable(QString("write %1 of %2 at %3, after a table showed")
                                    .arg(i)
                                    .arg(writes.size())
                                    .arg(writes[i][0])));
        QVERIFY(written > 32 * kMiB);
    }

    // Stopped at any point, the run ends within seconds and leaves nothing
    // of its own; once the drive was probed, it has no partition table at
    // either end, so it never looks finished.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("waitFor");
        QTest::newRow("cancelled while the stick is built") << "cancel"
                                                            << "Splitting install.wim";
        QTest::newRow("cancelled while the stick is written") << "cancel"
                                                              << "Writing to";
        QTest::newRow("the drive set read-only while it is written") << "read-only"
                                                                     << "Writing to";
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(QString, waitFor);
        const bool writing = waitFor == "Writing to";
        // Large enough that the split takes a while.
        const QString sample = makeSample("faults.iso", {"--wim-mib", "160"});
        const QString device = makeStick("stick.img", 320 * kMiB);
        QVERIFY(!device.isEmpty());
        const QString tmp = freshFolder("tmp");
        // At 4 MB/s, the write takes long enough to be caught in the middle.
        const Throttle throttle(device, 4);
        if (writing && throttle.group.isEmpty())
            QSKIP("no blkio or io cgroup to slow the write down");
        QStringList command{kCli, "--drive", device, "--yes", sample};
        if (writing)
            command = throttle.wrap(command);
        QProcess cli;
        cli.setProcessEnvironment(environment(tmp));
        cli.setProcessChannelMode(QProcess::MergedChannels);
        cli.start(command[0], command.mid(1));
        QByteArray seen =
            readUntil(cli, [&](const QByteArray &s) { return s.contains(waitFor.toUtf8()); });
        const qint64 pid = cli.processId();
        QVERIFY2(cli.state() == QProcess::Running && pid > 0, seen.right(2000).constData());
        if (writing)
            QTest::qWait(1000);
        if (fault == "cancel")
            ::kill(pid, SIGINT);
        else
            QVERIFY(run("blockdev", {"--setro", device}).code == 0);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(cli.waitForFinished(60000));
        seen += cli.readAll();
        QCOMPARE(cli.exitCode(), fault == "cancel" ? 130 : 1);
        if (fault == "cancel")
            QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        else // the writer's reason and what became of the drive, two sentences
            QVERIFY2(seen.contains("could not be written") &&
                         QString::fromUtf8(seen).contains(QRegularExpression(
                             "\\w\\. [^\\n]+ was left without a partition table")),
                     seen.right(2000).constData());
        // The drive has been written to from the probe on, while the stick was
        // built: its tables are gone at both ends, and it is said so.
        QVERIFY2(seen.contains("without a partition table"), seen.right(2000).constData());
        QVERIFY(ends(device) == QByteArray(2 * kMiB, '\0'));
        verifyNothingLeft(tmp);
    }
};

QTEST_GUILESS_MAIN(TestDriveInstaller)
#include "tst_drive_installer.moc"
