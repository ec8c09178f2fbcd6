// hdiutil attach / info / unmount and diskutil unmount, run for real: images
// made by genisoimage, real FUSE mounts in a private runtime folder that
// cleanup() clears even after a failure.

#include "DiskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace DiskTest;

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
        m_folder = useRuntimeFolder(m_work.path());
        QVERIFY(writeFile(work("tree/autorun.inf"), 48, 1));
        QVERIFY(writeFile(work("tree/boot/fonts/segoe ui.ttf"), 70000, 2));
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
    }
    void cleanup() { forceCleanup(m_folder); }

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

        // Read-only, byte for byte the tree the image was made of.
        struct stat file, folder;
        QCOMPARE(stat(QFile::encodeName(mountPoint + "/autorun.inf").constData(), &file), 0);
        QCOMPARE(stat(QFile::encodeName(mountPoint + "/boot").constData(), &folder), 0);
        QCOMPARE(file.st_mode & 07777, mode_t(0444));
        QCOMPARE(folder.st_mode & 07777, mode_t(0555));
        QVERIFY(!QFile(mountPoint + "/new.txt").open(QIODevice::WriteOnly));
        QCOMPARE(treeDifference(work("tree"), mountPoint), QString());

        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
        QVERIFY(!QFileInfo::exists(mountPoint));
        QVERIFY(mountsBelow(m_folder).isEmpty());
        QVERIFY(processesWithArgument(mountPoint).isEmpty());
        QVERIFY(info(m_folder).isEmpty());
        QCOMPARE(leftovers(), QStringList());
    }

    void twoImagesAtOnceOneOnAnOddPath()
    {
        const QString odd = work("a folder, with comma/Ünïcödé Ordner 日本/my disc.iso");
        QVERIFY(QDir().mkpath(QFileInfo(odd).path()) && QFile::copy(work("other.iso"), odd));
        const QString first = attach(work("test.iso"));
        const QString second = attach(odd);
        QCOMPARE(first, m_folder + "/TEST_UDF_LABEL");
        QCOMPARE(second, m_folder + "/OTHER_DISC");
        QVERIFY(QFileInfo::exists(first + "/autorun.inf"));
        QVERIFY(!QFileInfo::exists(first + "/only-in-other.txt"));
        QCOMPARE(treeDifference(work("other"), second), QString());
        const QList<AttachedImage> images = info(m_folder);
        QCOMPARE(images.size(), 2);
        QCOMPARE(images[0].imagePath, work("test.iso"));
        QCOMPARE(images[0].mountPoints, QStringList{first});
        QCOMPARE(images[1].imagePath, odd);
        QCOMPARE(images[1].mountPoints, QStringList{second});

        for (const QString &mountPoint : {first, second}) {
            QCOMPARE(run(kDiskutil, {"unmount", mountPoint}).exitCode, 0);
            QVERIFY(!QFileInfo::exists(mountPoint));
            QVERIFY(processesWithArgument(mountPoint).isEmpty());
        }
        QVERIFY(info(m_folder).isEmpty());
    }

    void sameImageTwice()
    {
        const QString first = attach(work("other.iso"));
        const QString second = attach(work("other.iso"));
        QCOMPARE(first, m_folder + "/OTHER_DISC");
        QCOMPARE(second, m_folder + "/OTHER_DISC 1");
        const QList<AttachedImage> images = info(m_folder);
        QCOMPARE(images.size(), 2);
        QVERIFY(images[0].imagePath == work("other.iso") &&
                images[1].imagePath == work("other.iso"));

        // Each mount has its own server: the second outlives the first.
        QCOMPARE(run(kDiskutil, {"unmount", first}).exitCode, 0);
        QCOMPARE(treeDifference(work("other"), second), QString());
        QCOMPARE(attach(work("other.iso")), first); // the freed name is taken again
        QCOMPARE(run(kHdiutil, {"unmount", first}).exitCode, 0);
        QCOMPARE(run(kHdiutil, {"unmount", second}).exitCode, 0);
        QVERIFY(info(m_folder).isEmpty());
        QCOMPARE(leftovers(), QStringList());
    }

    void refusesWhatItCannotMount_data()
    {
        QTest::addColumn<QString>("image");
        QTest::newRow("missing") << work("no such.iso");
        QTest::newRow("ISO 9660 without UDF") << work("plain.iso");
        QTest::newRow("random bytes") << work("random.bin");
        QTest::newRow("empty file") << work("empty.iso");
        QTest::newRow("folder") << work("tree");
    }
    void refusesWhatItCannotMount()
    {
        QFETCH(QString, image);
        const Run attached = run(kHdiutil, {"attach", image});
        QCOMPARE(attached.exitCode, 1);
        QVERIFY(attached.out.isEmpty());
        QVERIFY(attached.err.size() > 1 && attached.err.indexOf('\n') == attached.err.size() - 1);
        QVERIFY(mountsBelow(m_folder).isEmpty());
        QCOMPARE(leftovers(), QStringList());
    }

    void unmountRefusesBusyAndUnknownClearsDead()
    {
        const QString mountPoint = attach(work("other.iso"));
        QVERIFY(!mountPoint.isEmpty());
        {
            QFile open(mountPoint + "/only-in-other.txt");
            QVERIFY(open.open(QIODevice::ReadOnly));
            const Run busy = run(kHdiutil, {"unmount", mountPoint});
            QCOMPARE(busy.exitCode, 1);
            QVERIFY(busy.out.isEmpty() && busy.err.contains("busy"));
            QCOMPARE(open.read(5000).size(), 5000); // still served
        }
        for (const QString &unknown : {m_work.path(), work("nowhere"), m_folder + "/OTHER"}) {
            const Run refused = run(kDiskutil, {"unmount", unknown});
            QVERIFY(refused.exitCode == 1 && !refused.err.isEmpty());
        }
        QCOMPARE(mountsBelow(m_folder), QStringList{mountPoint});

        // A mount whose server died is still listed, so the application can clear it.
        const QList<int> servers = processesWithArgument(mountPoint);
        QCOMPARE(servers.size(), 1);
        QCOMPARE(::kill(servers[0], SIGKILL), 0);
        QTRY_VERIFY(processesWithArgument(mountPoint).isEmpty());
        QCOMPARE(info(m_folder).value(0).mountPoints, QStringList{mountPoint});
        // Written with a trailing separator it is the same mount point.
        QCOMPARE(run(kDiskutil, {"unmount", mountPoint + '/'}).exitCode, 0);
        QVERIFY(mountsBelow(m_folder).isEmpty());
        QVERIFY(!QFileInfo::exists(mountPoint));
        QCOMPARE(leftovers(), QStringList());
        QCOMPARE(attach(work("other.iso")), mountPoint); // nothing stale keeps the name
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
    }

private:
    QString work(const QString &name) const { return m_work.filePath(name); }
    // What a mount left in the runtime folder besides the folder's own lock and state.
    QStringList leftovers() const
    {
        const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
        QStringList left =
            QDir(m_folder).entryList(all) + QDir(m_folder + "/.state").entryList(all);
        left.removeAll(".lock");
        left.removeAll(".state");
        return left;
    }

    QTemporaryDir m_work;
    QString m_folder; // where hdiutil puts mount points
};

QTEST_GUILESS_MAIN(TestDiskTools)
#include "tst_disktools.moc"
