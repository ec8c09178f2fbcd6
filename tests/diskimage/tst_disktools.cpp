// hdiutil attach / info / unmount and diskutil unmount, run for real: real
// images made by genisoimage, real FUSE mounts. Every mount lives in a private
// runtime folder ($XDG_RUNTIME_DIR) that cleanup() clears even after a failure.

#include "DiskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

using namespace DiskTest;

class TestDiskTools : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void attachInfoUnmountRoundTrip();
    void twoImagesAtOnce();
    void sameImageTwice();
    void refusesWhatItCannotMount_data();
    void refusesWhatItCannotMount();
    void pathWithSpacesAndNonAsciiLetters();
    void unmountRefusesBusyAndUnknown();
    void unmountsAfterServerDied();

private:
    QString attachOrEmpty(const QString &image);
    QList<AttachedImage> info();
    bool runtimeFolderIsEmpty(QString *why) const;

    QTemporaryDir m_work;
    QString m_folder; // where hdiutil puts mount points
    QString m_tree;   // what m_iso holds
    QString m_iso;    // UDF, with a file over 4 GiB
    QString m_otherTree;
    QString m_otherIso;
    QString m_plainIso; // ISO 9660 without UDF
};

static constexpr qint64 kLargeSize = (qint64(4) << 30) + (300 << 20) + 123;

void TestDiskTools::initTestCase()
{
    if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL("/dev/fuse is missing: the disk tools cannot be tested");
        QSKIP("/dev/fuse is missing");
    }
    QVERIFY(m_work.isValid());
    const QString runtime = m_work.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    m_folder = runtime + QStringLiteral("/isoswm");

    m_tree = m_work.filePath(QStringLiteral("tree"));
    QVERIFY(writeFile(m_tree + "/autorun.inf", 48, 1));
    QVERIFY(writeFile(m_tree + "/boot/fonts/segoe ui.ttf", 70000, 2));
    QVERIFY(writeFile(m_tree + "/sources/sxs/deep/nested/folder/file.cab", 3 * 1024 * 1024 + 1, 3));
    QVERIFY(writeFile(m_tree + "/support/Übergröße Ordner/Straße und Café.txt", 2049, 4));
    QVERIFY(writeFile(m_tree + "/support/リリース ノート/説明.txt", 100, 5));
    QVERIFY(writeFile(m_tree + "/empty.txt", 0, 6));
    QVERIFY(QDir().mkpath(m_tree + "/empty folder"));
    // Over 4 GiB and sparse, with data at the start, across the 4 GiB mark and
    // at the end, where 32-bit offsets would go wrong.
    {
        const QString large = m_tree + "/sources/install.wim";
        QVERIFY(writeFile(large, 1 << 20, 7));
        QFile file(large);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.resize(kLargeSize));
        QByteArray marker(64 * 1024, 'M');
        for (int i = 0; i < marker.size(); ++i)
            marker[i] = char(i * 7 + 3);
        QVERIFY(file.seek((qint64(4) << 30) - marker.size() / 2));
        QVERIFY(file.write(marker) == marker.size());
        QVERIFY(file.seek(kLargeSize - 10000));
        QVERIFY(file.write(marker.left(10000)) == 10000);
    }
    QString why;
    m_iso = m_work.filePath(QStringLiteral("test.iso"));
    QVERIFY2(makeUdfIso(m_tree, QStringLiteral("TEST_UDF_LABEL"), m_iso, &why), qPrintable(why));

    m_otherTree = m_work.filePath(QStringLiteral("other"));
    QVERIFY(writeFile(m_otherTree + "/only-in-other.txt", 5000, 8));
    m_otherIso = m_work.filePath(QStringLiteral("other.iso"));
    QVERIFY2(makeUdfIso(m_otherTree, QStringLiteral("OTHER_DISC"), m_otherIso, &why),
             qPrintable(why));

    m_plainIso = m_work.filePath(QStringLiteral("plain.iso"));
    const Run plain =
        run(QStringLiteral("genisoimage"), {QStringLiteral("-quiet"), QStringLiteral("-R"),
                                            QStringLiteral("-o"), m_plainIso, m_otherTree});
    QCOMPARE(plain.exitCode, 0);
    QVERIFY(writeFile(m_work.filePath(QStringLiteral("random.bin")), 1 << 20, 9));
    QVERIFY(writeFile(m_work.filePath(QStringLiteral("empty.iso")), 0, 10));
}

void TestDiskTools::cleanup()
{
    forceCleanup(m_folder);
}

void TestDiskTools::cleanupTestCase()
{
    forceCleanup(m_folder);
}

QString TestDiskTools::attachOrEmpty(const QString &image)
{
    const Run attached = run(hdiutil(), {QStringLiteral("attach"), image});
    if (attached.exitCode != 0 || attached.crashed) {
        qWarning("attach %s failed: %s", qPrintable(image), attached.err.constData());
        return QString();
    }
    return mountPointFromAttach(attached.out);
}

QList<AttachedImage> TestDiskTools::info()
{
    const Run listed = run(hdiutil(), {QStringLiteral("info"), QStringLiteral("-plist")});
    QList<AttachedImage> images;
    if (listed.exitCode != 0 || !parseInfo(listed.out, &images))
        qWarning("hdiutil info -plist gave no list: %s", listed.err.constData());
    // Other mounts of the machine are none of our business.
    QList<AttachedImage> ours;
    for (const AttachedImage &image : images) {
        if (!image.mountPoints.isEmpty() && image.mountPoints.first().startsWith(m_folder + '/'))
            ours << image;
    }
    return ours;
}

bool TestDiskTools::runtimeFolderIsEmpty(QString *why) const
{
    const auto entries = [](const QString &path) {
        return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                    QDir::NoDotAndDotDot);
    };
    QStringList left = entries(m_folder);
    left.removeAll(QStringLiteral(".lock"));
    left.removeAll(QStringLiteral(".state"));
    left += entries(m_folder + "/.state");
    if (left.isEmpty())
        return true;
    *why = QStringLiteral("left in the runtime folder: ") + left.join(QStringLiteral(", "));
    return false;
}

void TestDiskTools::attachInfoUnmountRoundTrip()
{
    // Through a pipe read to its end, as the application reads it: the
    // server must not keep hdiutil's output streams open.
    const Run attached =
        run(QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"),
             QStringLiteral("\"$0\" attach \"$1\" 2>&1 | cat; exit ${PIPESTATUS[0]}"), hdiutil(),
             m_iso});
    QVERIFY2(!attached.crashed, "attach output did not end");
    QCOMPARE(attached.exitCode, 0);
    const QString mountPoint = mountPointFromAttach(attached.out);
    QCOMPARE(mountPoint, m_folder + "/TEST_UDF_LABEL");
    QCOMPARE(mountsBelow(m_folder), QStringList{mountPoint});

    const QList<AttachedImage> images = info();
    QCOMPARE(images.size(), 1);
    QCOMPARE(images[0].imagePath, m_iso);
    QCOMPARE(images[0].mountPoints, QStringList{mountPoint});
    QCOMPARE(images[0].devEntries, QStringList{QStringLiteral("/dev/fuse")});

    struct stat st;
    QCOMPARE(stat(QFile::encodeName(mountPoint + "/autorun.inf").constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0444));
    QCOMPARE(stat(QFile::encodeName(mountPoint + "/boot").constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0555));
    QFile created(mountPoint + "/new.txt");
    QVERIFY(!created.open(QIODevice::WriteOnly));

    QString why;
    QVERIFY2(sameTree(m_tree, mountPoint, &why), qPrintable(why));

    const Run unmounted = run(hdiutil(), {QStringLiteral("unmount"), mountPoint});
    QCOMPARE(unmounted.exitCode, 0);
    QVERIFY(!QFileInfo::exists(mountPoint));
    QVERIFY(mountsBelow(m_folder).isEmpty());
    QVERIFY(processesWithArgument(mountPoint).isEmpty());
    QVERIFY(info().isEmpty());
    QVERIFY2(runtimeFolderIsEmpty(&why), qPrintable(why));
}

void TestDiskTools::twoImagesAtOnce()
{
    const QString first = attachOrEmpty(m_iso);
    const QString second = attachOrEmpty(m_otherIso);
    QCOMPARE(first, m_folder + "/TEST_UDF_LABEL");
    QCOMPARE(second, m_folder + "/OTHER_DISC");
    QVERIFY(QFileInfo::exists(first + "/autorun.inf"));
    QVERIFY(!QFileInfo::exists(first + "/only-in-other.txt"));
    QString why;
    QVERIFY2(sameTree(m_otherTree, second, &why), qPrintable(why));

    const QList<AttachedImage> images = info();
    QCOMPARE(images.size(), 2);
    QCOMPARE(images[0].imagePath, m_iso);
    QCOMPARE(images[0].mountPoints, QStringList{first});
    QCOMPARE(images[1].imagePath, m_otherIso);
    QCOMPARE(images[1].mountPoints, QStringList{second});

    for (const QString &mountPoint : {first, second}) {
        const Run unmounted = run(diskutil(), {QStringLiteral("unmount"), mountPoint});
        QCOMPARE(unmounted.exitCode, 0);
        QVERIFY(!QFileInfo::exists(mountPoint));
        QVERIFY(processesWithArgument(mountPoint).isEmpty());
    }
    QVERIFY(info().isEmpty());
}

void TestDiskTools::sameImageTwice()
{
    const QString first = attachOrEmpty(m_otherIso);
    const QString second = attachOrEmpty(m_otherIso);
    QCOMPARE(first, m_folder + "/OTHER_DISC");
    QCOMPARE(second, m_folder + "/OTHER_DISC 1");
    const QList<AttachedImage> images = info();
    QCOMPARE(images.size(), 2);
    for (const AttachedImage &image : images)
        QCOMPARE(image.imagePath, m_otherIso);

    // Each mount has its own server: the second outlives the first.
    QCOMPARE(run(diskutil(), {QStringLiteral("unmount"), first}).exitCode, 0);
    QString why;
    QVERIFY2(sameTree(m_otherTree, second, &why), qPrintable(why));
    // The freed name is taken again.
    QCOMPARE(attachOrEmpty(m_otherIso), first);
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), first}).exitCode, 0);
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), second}).exitCode, 0);
    QVERIFY(info().isEmpty());
    QVERIFY2(runtimeFolderIsEmpty(&why), qPrintable(why));
}

void TestDiskTools::refusesWhatItCannotMount_data()
{
    QTest::addColumn<QString>("image");
    QTest::newRow("missing") << m_work.filePath(QStringLiteral("no such.iso"));
    QTest::newRow("ISO 9660 without UDF") << m_plainIso;
    QTest::newRow("random bytes") << m_work.filePath(QStringLiteral("random.bin"));
    QTest::newRow("empty file") << m_work.filePath(QStringLiteral("empty.iso"));
    QTest::newRow("folder") << m_tree;
}

void TestDiskTools::refusesWhatItCannotMount()
{
    QFETCH(QString, image);
    const Run attached = run(hdiutil(), {QStringLiteral("attach"), image});
    QVERIFY(!attached.crashed);
    QVERIFY(attached.exitCode != 0);
    QVERIFY(attached.out.isEmpty());
    QVERIFY(!attached.err.trimmed().isEmpty());
    QCOMPARE(attached.err.count('\n'), 1);
    QVERIFY(mountsBelow(m_folder).isEmpty());
    QString why;
    QVERIFY2(runtimeFolderIsEmpty(&why), qPrintable(why));
}

void TestDiskTools::pathWithSpacesAndNonAsciiLetters()
{
    const QString folder =
        m_work.filePath(QStringLiteral("a folder, with comma/Ünïcödé Ordner 日本"));
    QVERIFY(QDir().mkpath(folder));
    const QString image = folder + "/my disc.iso";
    QVERIFY(QFile::copy(m_otherIso, image));
    const QString mountPoint = attachOrEmpty(image);
    QCOMPARE(mountPoint, m_folder + "/OTHER_DISC");
    const QList<AttachedImage> images = info();
    QCOMPARE(images.size(), 1);
    QCOMPARE(images[0].imagePath, image);
    QCOMPARE(images[0].mountPoints, QStringList{mountPoint});
    QString why;
    QVERIFY2(sameTree(m_otherTree, mountPoint, &why), qPrintable(why));
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
    QVERIFY(info().isEmpty());
}

void TestDiskTools::unmountRefusesBusyAndUnknown()
{
    const QString mountPoint = attachOrEmpty(m_otherIso);
    QVERIFY(!mountPoint.isEmpty());
    {
        QFile open(mountPoint + "/only-in-other.txt");
        QVERIFY(open.open(QIODevice::ReadOnly));
        const Run busy = run(hdiutil(), {QStringLiteral("unmount"), mountPoint});
        QVERIFY(busy.exitCode != 0);
        QVERIFY(busy.out.isEmpty());
        QVERIFY(busy.err.contains("busy"));
        QCOMPARE(open.read(5000).size(), 5000); // still served
        QCOMPARE(mountsBelow(m_folder), QStringList{mountPoint});
    }
    for (const QString &unknown :
         {m_work.path(), m_work.filePath(QStringLiteral("nowhere")), m_folder + "/OTHER"}) {
        const Run refused = run(diskutil(), {QStringLiteral("unmount"), unknown});
        QVERIFY(refused.exitCode != 0);
        QVERIFY(!refused.err.isEmpty());
    }
    QCOMPARE(mountsBelow(m_folder), QStringList{mountPoint});
    // The mount point as written with a trailing separator is the same one.
    QCOMPARE(run(diskutil(), {QStringLiteral("unmount"), mountPoint + '/'}).exitCode, 0);
    QVERIFY(!QFileInfo::exists(mountPoint));
    QVERIFY(processesWithArgument(mountPoint).isEmpty());
}

void TestDiskTools::unmountsAfterServerDied()
{
    const QString mountPoint = attachOrEmpty(m_otherIso);
    QVERIFY(!mountPoint.isEmpty());
    const QList<int> servers = processesWithArgument(mountPoint);
    QCOMPARE(servers.size(), 1);
    QCOMPARE(::kill(servers[0], SIGKILL), 0);
    QTRY_VERIFY(processesWithArgument(mountPoint).isEmpty());

    // The dead mount is still listed, so the application can clear it.
    const QList<AttachedImage> images = info();
    QCOMPARE(images.size(), 1);
    QCOMPARE(images[0].mountPoints, QStringList{mountPoint});
    QCOMPARE(run(diskutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
    QVERIFY(mountsBelow(m_folder).isEmpty());
    QVERIFY(!QFileInfo::exists(mountPoint));
    QString why;
    QVERIFY2(runtimeFolderIsEmpty(&why), qPrintable(why));
    // Nothing stale keeps the name from the next attach.
    QCOMPARE(attachOrEmpty(m_otherIso), mountPoint);
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestDiskTools)
#include "tst_disktools.moc"
