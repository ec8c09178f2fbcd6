// Which drives may be written, from what the disk service says about them:
// the rules as a table, and the real service (UDisks2) with loop devices.

#include "FileSystem.h"
#include "StickImage.h"
#include "StickProbe.h"
#include "StickStream.h"
#include "UDisksDrives.h"

#include <QDBusObjectPath>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {

struct Ran {
    int code;
    QString out;
};

Ran run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAll())};
}

void write(const QString &path, qint64 bytes, char fill = 0)
{
    QDir().mkpath(QFileInfo(path).path());
    QByteArray data(bytes, fill);
    std::mt19937 random(bytes);
    for (char &c : data)
        c = fill ? fill : char(random());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(data) == bytes);
}

QString loopSetup(const QString &file)
{
    const Ran setup = run("udisksctl", {"loop-setup", "--no-user-interaction", "-f", file});
    return setup.code == 0 ? setup.out.section(" as ", 1).section('.', 0, 0).trimmed() : QString();
}

} // namespace

class TestDrives : public QObject {
    Q_OBJECT
private slots:
    void refusals_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<qint64>("content");
        QTest::addColumn<QString>("refused"); // part of the reason; empty when accepted
        QTest::newRow("a USB stick") << "" << 6'000'000'000LL << "";
        QTest::newRow("a disk image") << "loop" << 0LL << "";
        QTest::newRow("a partition") << "partition" << 0LL << "/dev/sdz is a partition";
        QTest::newRow("a fixed disk") << "fixed" << 0LL << "a fixed disk";
        QTest::newRow("the system on it") << "/" << 0LL << "holds “/”";
        QTest::newRow("the boot loader on it") << "/boot/efi" << 0LL << "“/boot/efi”";
        QTest::newRow("the user's home on it") << "/home" << 0LL << "“/home”";
        QTest::newRow("a data stick mounted") << "/media/u/DATA" << 0LL << "";
        QTest::newRow("swap on it") << "swap" << 0LL << "swap space";
        QTest::newRow("read-only") << "read-only" << 0LL << "read-only";
        QTest::newRow("too small") << "" << 15'900'000'000LL << "holds 16.0 GB; the new";
        QTest::newRow("no medium in it") << "no medium" << 0LL << "holds no medium";
        QTest::newRow("an optical drive") << "optical" << 0LL << "an optical drive";
    }
    void refusals()
    {
        QFETCH(QString, change);
        QFETCH(qint64, content);
        QFETCH(QString, refused);
        DriveFacts d;
        d.device = "/dev/sdz", d.vendor = "SanDisk", d.model = "Cruzer Blade";
        d.size = change == "no medium" ? 0 : 16'000'000'000;
        d.optical = change == "optical";
        d.partition = change == "partition";
        d.removable = change != "fixed" && change != "loop";
        d.loop = change == "loop";
        d.backingFile = "/srv/images/stick.img";
        d.swapInUse = change == "swap";
        d.readOnly = change == "read-only";
        if (change.startsWith('/'))
            d.mountPoints << "/srv" << change;
        const std::optional<QString> why = DriveRules::refusal(d, content, "/home/u");
        QCOMPARE(why.value_or(QString()).contains(refused) && why.has_value() == !refused.isEmpty(),
                 true);
        QVERIFY(!why || why->contains(d.partition ? d.device : d.name()));
    }

    // A partition's mount points and swap count for the drive it is on; the
    // drive's properties reach each of its block devices.
    void factsFromTheServiceObjects()
    {
        const QString base = "/org/freedesktop/UDisks2/";
        const QString block = "org.freedesktop.UDisks2.Block";
        DiskObjects objects;
        objects[QDBusObjectPath(base + "drives/Stick")]["org.freedesktop.UDisks2.Drive"] = {
            {"Vendor", "Kingston"},
            {"Model", "DataTraveler"},
            {"ConnectionBus", "usb"},
            {"Removable", false}};
        objects[QDBusObjectPath(base + "block_devices/sdz")][block] = {
            {"Device", QByteArray("/dev/sdz\0", 9)},
            {"Size", qulonglong(32) << 30},
            {"Drive", QVariant::fromValue(QDBusObjectPath(base + "drives/Stick"))}};
        DiskInterfaces &part = objects[QDBusObjectPath(base + "block_devices/sdz1")];
        part[block] = {{"Device", QByteArray("/dev/sdz1\0", 10)}, {"IdLabel", "CCCOMA_X64"}};
        part["org.freedesktop.UDisks2.Partition"] = {
            {"Table", QVariant::fromValue(QDBusObjectPath(base + "block_devices/sdz"))}};
        part["org.freedesktop.UDisks2.Filesystem"] = {
            {"MountPoints", QVariant::fromValue(QByteArrayList{QByteArray("/", 2)})}};
        const QList<DriveFacts> facts = UDisksDrives::factsFrom(objects);
        QCOMPARE(facts.size(), 2);
        const DriveFacts &whole = facts[0], &partition = facts[1];
        QCOMPARE(whole.device, QString("/dev/sdz"));
        QVERIFY(whole.removable && !whole.partition && partition.partition);
        QCOMPARE(whole.name(), QString("Kingston DataTraveler"));
        QCOMPARE(whole.size, qint64(32) << 30);
        QCOMPARE(whole.label, QString("CCCOMA_X64"));
        QCOMPARE(whole.mountPoints, QStringList{"/"});
        QVERIFY(DriveRules::refusal(whole, 0, "/root")->contains("“/”"));
    }

    // A stick built from a tree and written through the service to a loop
    // device full of old data while it is built: every file read back byte
    // for byte from the file system at 1 MiB, install.wim left out and the
    // pieces placed straight from themselves (some with long names), each
    // removed once on the drive and released; the image gives back the space
    // of what went on, and the file system checks clean. (The table and
    // label: the drive installer's; a write cut short: its faults.)
    void writesAStick()
    {
        QTemporaryDir folder;
        const QString tree = folder.filePath("tree"), image = folder.filePath("stick.img");
        write(tree + "/setup.exe", 300'000);
        write(tree + "/efi/boot/bootx64.efi", 4096);
        write(tree + "/sources/install.wim", 1000);
        write(tree + "/sources/boot.wim", 5 << 20);
        write(tree + "/support/日本語/Ελληνικά файл ñ.txt", 10);
        QVERIFY(QDir().mkpath(tree + "/support/empty"));
        // Enough of them that the folder's entries take one more cluster.
        QStringList pieces{folder.filePath("install.swm")};
        for (int n = 2; n <= 20; ++n)
            pieces << folder.filePath(QString("install%1.swm").arg(n));
        write(pieces[0], 9 << 20);
        for (int n = 1; n < pieces.size(); ++n)
            write(pieces[n], n * 1000, char('a' + n));
        QVERIFY(!StickImage::create(image, 96 << 20, "CCCOMA_X64FRE_EN-US_DV9"));
        write(folder.filePath("odd/a?b.txt"), 1); // FAT would change the name without a word
        QVERIFY(StickImage::copyTree(image, folder.filePath("odd"))->details.contains("a?b.txt"));
        QVERIFY(!StickImage::copyTree(image, tree, {"sources/install.wim"}));
        QVERIFY(FileSystem::allocatedBytes(image) > (5 << 20));
        QFile::remove(tree + "/sources/install.wim");
        for (const QString &piece : pieces)
            QVERIFY(QFile::copy(piece, tree + "/sources/" + QFileInfo(piece).fileName()));

        write(folder.filePath("drive"), 96 << 20, char(0xa5));
        const QString device = loopSetup(folder.filePath("drive"));
        QVERIFY(device.startsWith("/dev/loop"));
        const auto detach = qScopeGuard([&] { run("losetup", {"-d", device}); });
        UDisksDrives drives;
        QTRY_VERIFY(drives.refresh() && drives.find(device) && drives.find(device)->loop);
        QString why;
        const int fd = drives.openForWriting(*drives.find(device), &why);
        QVERIFY2(fd >= 0, qPrintable(why));
        const auto closeFd = qScopeGuard([fd] { ::close(fd); });
        auto opened = StickStream::open(image, fd);
        QVERIFY(std::holds_alternative<std::unique_ptr<StickStream>>(opened));
        StickStream &stream = *std::get<std::unique_ptr<StickStream>>(opened);
        QVERIFY(!stream.placed());
        for (const QString &piece : pieces)
            QVERIFY(!stream.placeFile("sources", piece) && !stream.placeFile("sources", piece));
        stream.release();
        QList<StickStream::Phase> phases;
        const auto error = stream.finish([&](auto phase, qint64, qint64) {
            phases << phase;
            return true;
        });
        QVERIFY2(!error, qPrintable(error ? error->message + error->details : QString()));
        QVERIFY(phases.contains(StickStream::Phase::Verifying));
        for (const QString &piece : pieces)
            QVERIFY(!QFile::exists(piece));
        QVERIFY(FileSystem::givesSpaceBack(folder.path()));
        QVERIFY2(FileSystem::allocatedBytes(image) < (4 << 20),
                 qPrintable(QString::number(FileSystem::allocatedBytes(image))));

        const QString back = folder.filePath("back"), part = folder.filePath("part");
        QVERIFY(QDir().mkpath(back));
        QCOMPARE(run("mcopy", {"-s", "-n", "-i", device + "@@1M", "::/*", back}).code, 0);
        const Ran diff = run("diff", {"-r", tree, back});
        QVERIFY2(diff.code == 0, qPrintable(diff.out));
        QCOMPARE(run("dd", {"if=" + device, "of=" + part, "bs=1M", "skip=1", "count=95"}).code, 0);
        const Ran checked = run("fsck.fat", {"-n", part});
        QVERIFY2(checked.code == 0, qPrintable(checked.out));
    }

    // Sticks that keep less than they claim, by wrapping onto their start or
    // by dropping what goes past, are caught, and so is one taking no
    // writes; a genuine one passes. Through a loop device, as a stick would
    // be: what the probe wrote is zero again, and nothing else was touched.
    void probesSticks_data()
    {
        QTest::addColumn<qint64>("claimedMiB");
        QTest::addColumn<qint64>("keptMiB");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<StickProbe::Outcome>("outcome");
        using enum StickProbe::Outcome;
        QTest::newRow("genuine") << 64ll << 64ll << "wrap" << Holds;
        QTest::newRow("wraps at half") << 3000ll << 1500ll << "wrap" << Smaller;
        QTest::newRow("wraps at a quarter") << 1200ll << 300ll << "wrap" << Smaller;
        QTest::newRow("keeps 1600 of 3000") << 3000ll << 1600ll << "wrap" << Smaller;
        QTest::newRow("keeps 200 of 1200") << 1200ll << 200ll << "wrap" << Smaller;
        QTest::newRow("drops past 700 of 1200") << 1200ll << 700ll << "drop" << Smaller;
        QTest::newRow("takes no writes") << 64ll << 64ll << "refuse" << ReadOnly;
    }
    void probesSticks()
    {
        QFETCH(qint64, claimedMiB);
        QFETCH(qint64, keptMiB);
        QFETCH(QString, mode);
        QFETCH(StickProbe::Outcome, outcome);
        const qint64 claimed = claimedMiB << 20, kept = keptMiB << 20;
        QTemporaryDir folder;
        const QString mount = folder.filePath("mnt"), backing = folder.filePath("kept");
        QVERIFY(QDir().mkpath(mount));
        write(backing, 4 << 20, char(0xa5));
        QProcess fake;
        fake.start(FAKE_STICK,
                   {mount, backing, QString::number(claimed), QString::number(kept), mode});
        const auto unmount = qScopeGuard([&] {
            run("umount", {"-l", mount});
            fake.waitForFinished(10000);
        });
        QTRY_VERIFY(QFileInfo(mount + "/stick").size() == claimed);
        const Ran loop = run("losetup", {"-f", "--show", mount + "/stick"});
        const QString device = loop.out.trimmed();
        QVERIFY2(loop.code == 0, qPrintable(loop.out));
        const auto detach = qScopeGuard([&] { run("losetup", {"-d", device}); });
        const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(fd >= 0);
        const StickProbe::Result result = StickProbe::probe(fd, claimed, [] { return true; });
        ::close(fd);
        QCOMPARE(result.outcome, outcome);

        QFile kept_(backing);
        QVERIFY(kept_.open(QIODevice::ReadOnly));
        const auto at = [&](qint64 offset, qint64 length) {
            kept_.seek(offset % kept);
            return kept_.read(length);
        };
        if (mode == "refuse") {
            QCOMPARE(at(0, 4 << 20), QByteArray(4 << 20, char(0xa5)));
            return;
        }
        for (const StickProbe::Region &region : StickProbe::regions(claimed))
            if (mode == "wrap" || region.offset < kept)
                QCOMPARE(at(region.offset, region.length), QByteArray(region.length, '\0'));
        if (outcome == StickProbe::Outcome::Holds)
            QCOMPARE(at((1 << 20) + StickProbe::kBlock, (1 << 20) - StickProbe::kBlock),
                     QByteArray((1 << 20) - StickProbe::kBlock, char(0xa5)));
    }

    // The real service: a disk image attached as a loop device is listed,
    // with its size and name, and goes from the list when it is detached.
    void followsLoopDevices()
    {
        QTemporaryDir folder;
        const QString image = folder.filePath("stick.img");
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
        file.close();
        UDisksDrives drives;
        QVERIFY(drives.refresh());
        QSignalSpy changed(&drives, &UDisksDrives::changed);
        const QString device = loopSetup(image);
        QVERIFY(device.startsWith("/dev/loop"));
        // Every loop device is there, attached or not: it shows once attached.
        QTRY_VERIFY(drives.find(device) && drives.find(device)->loop);
        QVERIFY(!changed.isEmpty());
        const DriveFacts loop = *drives.find(device);
        QVERIFY(loop.loop && !loop.partition && !loop.readOnly);
        QCOMPARE(loop.size, qint64(64) << 20);
        QCOMPARE(loop.name(), QString("Disk image stick.img"));

        const Ran listed = run(ISOSWM_BIN_DIR "/isoswm-cli", {"--list-drives"});
        QCOMPARE(listed.code, 0);
        QVERIFY2(listed.out.split('\n').contains(device + "\t67.1 MB\tDisk image stick.img"),
                 qPrintable(listed.out));

        const Ran gone = run("udisksctl", {"loop-delete", "--no-user-interaction", "-b", device});
        QVERIFY2(gone.code == 0, qPrintable(gone.out));
        QTRY_VERIFY(!drives.find(device)->loop);
        QVERIFY(DriveRules::refusal(*drives.find(device), 0, "/root"));
    }
};

QTEST_GUILESS_MAIN(TestDrives)
#include "tst_drives.moc"
