// hdiutil makehybrid run for real (genisoimage), each image checked by
// mounting it again with our own attach; and scripts/make-sample-iso.

#include "DiskTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace DiskTest;

class TestMakeHybrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!QFile::exists("/dev/fuse")) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("/dev/fuse is missing: built images cannot be mounted again");
            QSKIP("/dev/fuse is missing");
        }
        QVERIFY(m_work.isValid());
        m_folder = useRuntimeFolder(m_work.path());
    }
    void cleanup() { forceCleanup(m_folder); }

    void imageHoldsTheTreeAndLabel()
    {
        // Named and laid out like the staging copy of a Windows disc.
        const QString folder = freshFolder("CCCOMA_X64FRE_EN-US_DV9");
        QVERIFY(writeFile(folder + "/setup.exe", 9000, 1));
        QVERIFY(writeFile(folder + "/sources/install.swm", 3 * 1024 * 1024 + 7, 2));
        QVERIFY(writeFile(folder + "/sources/install2.swm", 2049, 3));
        QVERIFY(writeFile(folder + "/boot/fonts/segoe ui.ttf", 4000, 4));
        QVERIFY(writeFile(folder + "/support/Übergröße Ordner/Straße und Café.txt", 100, 5));
        QVERIFY(writeFile(folder + "/support/リリース ノート/説明.txt", 100, 6));
        QVERIFY(writeFile(folder + "/empty.txt", 0, 7));
        QVERIFY(QDir().mkpath(folder + "/empty folder"));
        // The longest names UDF holds: 254 characters below U+0100, 127 above;
        // Joliet would have cut them to 103.
        QVERIFY(writeFile(folder + '/' + QString(120, 'N'), 10, 8));
        QVERIFY(writeFile(folder + "/sources/" + QString(254, 'L'), 10, 9));
        QVERIFY(writeFile(folder + '/' + QString(127, QChar(0x101)), 10, 10));
        QVERIFY(writeFile(folder + '/' + QString(120, 'd') + '/' + QString(120, 'e') + "/deep.txt",
                          10, 11));
        QFile::setPermissions(folder + "/sources", QFileDevice::Permissions(0x7777));

        const Run made = makeHybrid(folder, "split.iso");
        QVERIFY2(made.exitCode == 0, made.err.constData());
        QCOMPARE(outEntries(folder), QStringList{"split.iso"});
        const QString mountPoint = attach(out(folder, "split.iso"));
        QCOMPARE(QFileInfo(mountPoint).fileName(), QString("CCCOMA_X64FRE_EN-US_DV9"));
        QCOMPARE(treeDifference(folder, mountPoint), QString());
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
    }

    void cutsLongLabelAndNeverReplacesOutput()
    {
        const QString name = "ABCDEFGHIJ_KLMNOPQRST_UVWXYZ_0123456789";
        const QString folder = freshFolder(name);
        QVERIFY(writeFile(folder + "/file.txt", 10, 1));
        QCOMPARE(makeHybrid(folder, "long.iso").exitCode, 0);
        const QString mountPoint = attach(out(folder, "long.iso"));
        const QString label = QFileInfo(mountPoint).fileName();
        // ISO 9660 takes 32 bytes of it, the UDF volume identifier 30 of those.
        QVERIFY2(label.size() >= 30 && label.size() <= 32 && name.startsWith(label),
                 qPrintable(label));
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);

        QFile existing(out(folder, "taken.iso"));
        QVERIFY(existing.open(QIODevice::WriteOnly) && existing.write("keep me") == 7);
        existing.close();
        const Run made = makeHybrid(folder, "taken.iso");
        QVERIFY(made.exitCode == 1 && made.err.contains("exists"));
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("keep me"));
        QCOMPARE(outEntries(folder), (QStringList{"long.iso", "taken.iso"}));
    }

    void refusesTreesTheImageCannotHold_data()
    {
        QTest::addColumn<QString>("item");
        // genisoimage would write each of these changed, cut or broken.
        QTest::newRow("colon") << "sources/a:b.txt";
        QTest::newRow("backslash") << "a\\b.txt";
        QTest::newRow("question mark in a folder") << "why?/file.txt";
        QTest::newRow("tab") << "tab\there.txt";
        QTest::newRow("beyond U+FFFF") << "emoji 😀.txt";
        QTest::newRow("255 ASCII characters") << QString(255, 'x');
        QTest::newRow("128 characters, one above U+00FF") << "日" + QString(127, 'B');
        QTest::newRow("symbolic link") << "link";
    }
    void refusesTreesTheImageCannotHold()
    {
        QFETCH(QString, item);
        const QString folder = freshFolder("DISC");
        QVERIFY(writeFile(folder + "/fine.txt", 10, 1));
        QVERIFY(item == "link" ? QFile::link("fine.txt", folder + "/link")
                               : writeFile(folder + '/' + item, 10, 2));

        const Run made = makeHybrid(folder, "refused.iso");
        QCOMPARE(made.exitCode, 1);
        QCOMPARE(made.err.count('\n'), 1);
        QVERIFY2(QString::fromUtf8(made.err).contains(item.section('/', 0, 0)), made.err.data());
        QCOMPARE(outEntries(folder), QStringList());
    }

    void failureLeavesNoOutput()
    {
        // A file size limit makes genisoimage's writes fail (EFBIG, the signal
        // being ignored) half-way through the image.
        const QString folder = freshFolder("DISC");
        QVERIFY(writeFile(folder + "/big.bin", 4 * 1024 * 1024, 1));
        const Run failed =
            run("/bin/bash",
                {"-c", "trap '' XFSZ; ulimit -f 1024; exec \"$0\" makehybrid -o \"$1\" \"$2\"",
                 kHdiutil, out(folder, "failed.iso"), folder});
        QCOMPARE(failed.exitCode, 1);
        QVERIFY2(failed.err.contains("genisoimage"), failed.err.constData());
        QCOMPARE(outEntries(folder), QStringList());

        // Terminated, as a cancel does, while genisoimage writes a big file.
        const QString cancelled = freshFolder("DISC");
        QFile large(cancelled + "/large.bin");
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(3) << 30)); // sparse
        large.close();
        QProcess process;
        process.start(kHdiutil, {"makehybrid", "-o", out(cancelled, "cancelled.iso"), cancelled});
        QVERIFY(process.waitForReadyRead(30000));
        QThread::msleep(300);
        QCOMPARE(process.state(), QProcess::Running);
        process.terminate();
        QVERIFY(process.waitForFinished(30000));
        QVERIFY(process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0);
        QCOMPARE(outEntries(cancelled), QStringList());
        QVERIFY(processesWithArgument(cancelled).isEmpty()); // genisoimage went too
    }

    void sampleIsos()
    {
        const QString script = ISOSWM_SOURCE_DIR "/scripts/make-sample-iso";
        const QString iso = m_work.filePath("sample.iso"), solid = m_work.filePath("solid.iso");
        Run made = run(script, {"--wim-mib", "8", iso});
        QVERIFY2(made.exitCode == 0, made.err.constData());
        QCOMPARE(run(script, {iso}).exitCode, 1); // an existing output is kept
        made = run(script, {"--wim-mib", "4", "--solid", solid});
        QVERIFY2(made.exitCode == 0, made.err.constData());

        // Looks like a Windows disc, with names that need care.
        QString mountPoint = attach(iso);
        QCOMPARE(QFileInfo(mountPoint).fileName(), QString("CCCOMA_X64FRE_EN-US_DV9"));
        for (const char *path :
             {"/boot", "/efi/boot/bootx64.efi", "/bootmgr", "/setup.exe", "/sources/boot.wim"})
            QVERIFY2(QFileInfo::exists(mountPoint + path), path);
        QVERIFY(QFileInfo(mountPoint + "/sources/install.wim").size() >= 8 << 20);
        QStringList files;
        for (QDirIterator it(mountPoint, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << it.next().mid(mountPoint.size());
        const QString all = files.join('\n');
        QVERIFY2(files.size() >= 250 && all.contains(' ') && all.toUtf8().size() > all.size(),
                 qPrintable(all));
        const Run wiminfo = run("wiminfo", {mountPoint + "/sources/install.wim"});
        QVERIFY2(wiminfo.exitCode == 0 && wiminfo.out.contains("Image Count:"),
                 wiminfo.err.constData());
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);

        // What the conversion meets with a solid WIM: wimsplit refuses it.
        mountPoint = attach(solid);
        const Run split = run(
            "wimsplit", {mountPoint + "/sources/install.wim", m_work.filePath("solid.swm"), "1"});
        QVERIFY2(split.exitCode != 0 && split.err.contains("solid"), split.err.constData());
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
    }

private:
    // A new parent per case holding the folder and an empty out/, so out/
    // shows anything a case leaves there (a partial OUT, a temporary).
    QString freshFolder(const QString &name)
    {
        const QString parent = m_work.filePath(QString("case%1").arg(++m_serial));
        QDir().mkpath(parent + "/out");
        QDir().mkpath(parent + '/' + name);
        return parent + '/' + name;
    }
    static QString out(const QString &folder, const QString &name)
    {
        return QFileInfo(folder).path() + "/out/" + name;
    }
    static QStringList outEntries(const QString &folder)
    {
        return QDir(out(folder, {}))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    static Run makeHybrid(const QString &folder, const QString &name)
    {
        return run(kHdiutil, {"makehybrid", "-iso", "-udf", "-o", out(folder, name), folder});
    }

    QTemporaryDir m_work;
    QString m_folder;
    int m_serial = 0;
};

QTEST_GUILESS_MAIN(TestMakeHybrid)
#include "tst_makehybrid.moc"
