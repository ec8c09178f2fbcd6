// hdiutil makehybrid run for real (genisoimage), each image checked by
// mounting it again with our own attach and its boot catalog read back;
// and scripts/make-sample-iso.

#include "BootReport.h"
#include "DiskTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        // Named and laid out like the staging copy of a Windows disc, the name
        // longer than the label can be.
        const QString name = "CCCOMA_X64FRE_EN-US_DV9_0123456789";
        const QString folder = freshFolder(name);
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
        QCOMPARE(ElTorito::readCatalog(out(folder, "split.iso").toStdString()).outcome,
                 ElTorito::Outcome::NoBootRecord);
        const QString mountPoint = attach(out(folder, "split.iso"));
        const QString label = QFileInfo(mountPoint).fileName();
        // ISO 9660 takes 32 bytes of it, the UDF volume identifier 30 of those.
        QVERIFY2(label.size() >= 30 && label.size() <= 32 && name.startsWith(label),
                 qPrintable(label));
        QCOMPARE(treeDifference(folder, mountPoint), QString());
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);

        // An existing OUT is never replaced.
        const QFileInfo built(out(folder, "split.iso"));
        const Run again = makeHybrid(folder, "split.iso");
        QVERIFY(again.exitCode == 1 && again.err.contains("exists"));
        QCOMPARE(QFileInfo(built.filePath()).lastModified(), built.lastModified());
        QCOMPARE(outEntries(folder), QStringList{"split.iso"});
    }

    void refusesWhatTheImageCannotHold_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QStringList>("options"); // "@" stands for the folder
        // genisoimage would write each of these changed, cut or broken.
        QTest::newRow("colon") << "sources/a:b.txt" << QStringList();
        QTest::newRow("backslash") << "a\\b.txt" << QStringList();
        QTest::newRow("question mark in a folder") << "why?/file.txt" << QStringList();
        QTest::newRow("tab") << "tab\there.txt" << QStringList();
        QTest::newRow("beyond U+FFFF") << "emoji 😀.txt" << QStringList();
        QTest::newRow("255 ASCII characters") << QString(255, 'x') << QStringList();
        QTest::newRow("128 characters, one above U+00FF")
            << "日" + QString(127, 'B') << QStringList();
        QTest::newRow("symbolic link") << "link" << QStringList();
        // Options that do not fit the folder.
        QTest::newRow("graft over an item")
            << "fine.txt: the folder holds it" << QStringList{"-graft", "fine.txt=@/fine.txt"};
        QTest::newRow("exclusion of nothing") << "missing" << QStringList{"-exclude", "missing"};
        QTest::newRow("boot option before its entry")
            << "-no-emul-boot" << QStringList{"-no-emul-boot"};
    }
    void refusesWhatTheImageCannotHold()
    {
        QFETCH(QString, item);
        QFETCH(QStringList, options);
        const QString folder = freshFolder("DISC");
        QVERIFY(writeFile(folder + "/fine.txt", 10, 1));
        if (options.isEmpty())
            QVERIFY(item == "link" ? QFile::link("fine.txt", folder + "/link")
                                   : writeFile(folder + '/' + item, 10, 2));

        const Run made = run(kHdiutil, QStringList{"makehybrid", "-o", out(folder, "refused.iso")} +
                                               options.replaceInStrings("@", folder)
                                           << folder);
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
        // A progress line comes while genisoimage is still writing.
        QByteArray said;
        while (!said.contains("% done") && process.waitForReadyRead(30000))
            said += process.readAllStandardOutput();
        QVERIFY2(said.contains("% done"), said.constData());
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
        Run made = run(script, {"--wim-mib", "24", "--bootable", iso});
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
        QVERIFY(QFileInfo(mountPoint + "/sources/install.wim").size() >= 24 << 20);
        checkWindowsBootEntries(iso, mountPoint);
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

    void directBuildFromTheMountedSample()
    {
        // As the direct conversion builds: from the mounted source, with
        // install.wim left out and its pieces taken from elsewhere.
        const QString pieces = m_work.filePath("pieces"), expected = freshFolder("expected");
        // Big enough for a few progress lines; one named as genisoimage names
        // its catalog.
        QVERIFY(writeFile(pieces + "/install.swm", 20 << 20, 1));
        QVERIFY(writeFile(pieces + "/install2.swm", 8 << 20, 2));
        QVERIFY(writeFile(pieces + "/boot.catalog", 10, 3));
        const QString mounted = attach(m_work.filePath("sample.iso"));
        QCOMPARE(run("cp", {"-r", mounted + "/.", expected}).exitCode, 0);
        QCOMPARE(run("chmod", {"-R", "u+w", expected}).exitCode, 0);
        QVERIFY(QFile::remove(expected + "/sources/install.wim"));
        QStringList args = QString("makehybrid -iso -udf -eltorito-boot boot/etfsboot.com "
                                   "-no-emul-boot -boot-load-size 8 -eltorito-boot "
                                   "efi/microsoft/boot/efisys.bin -no-emul-boot "
                                   "-eltorito-platform efi -exclude sources/install.wim")
                               .split(' ');
        for (const QString &piece : QDir(pieces).entryList(QDir::Files)) {
            args << "-graft"
                 << "sources/" + piece + '=' + pieces + '/' + piece;
            QVERIFY(QFile::copy(pieces + '/' + piece, expected + "/sources/" + piece));
        }
        const QString iso = out(expected, "direct.iso");
        const Run made = run(kHdiutil, args << "-o" << iso << mounted);
        QCOMPARE(run(kHdiutil, {"unmount", mounted}).exitCode, 0);
        QVERIFY2(made.exitCode == 0 && made.err.isEmpty(), made.err.constData());
        // genisoimage's progress lines and nothing else of what it says.
        const QStringList lines = QString::fromUtf8(made.out).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 2 &&
                     lines.filter("% done, estimate finish ").size() == lines.size() - 1 &&
                     QStringList(lines).removeDuplicates() == 0,
                 made.out.constData());

        const QString mountPoint = attach(iso);
        QCOMPARE(treeDifference(expected, mountPoint), QString());
        QCOMPARE(run(kHdiutil, {"unmount", mountPoint}).exitCode, 0);
        checkWindowsBootEntries(iso, expected);
    }

private:
    // The two entries of a Windows disc, as our reader and xorriso see them,
    // each loading its file of `tree`.
    static void checkWindowsBootEntries(const QString &iso, const QString &tree)
    {
        const QStringList entries = BootReport::fromReader(iso);
        QCOMPARE(entries, BootReport::fromXorriso(iso));
        QVERIFY2(entries.size() == 2 && entries[0].startsWith("BIOS y none 0x0000 8 ") &&
                     entries[1].startsWith("UEFI y none 0x0000 4 "),
                 qPrintable(entries.join("; ")));
        const auto catalog = ElTorito::readCatalog(iso.toStdString()).catalog;
        QVERIFY(BootReport::loadsFile(iso, catalog.entries[0], tree + "/boot/etfsboot.com"));
        QVERIFY(BootReport::loadsFile(iso, catalog.entries[1],
                                      tree + "/efi/microsoft/boot/efisys.bin"));
    }

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

    // Every path holds what genisoimage reads as syntax in graft points
    // ('\' and '=') and exclusions ('[' and '\').
    QTemporaryDir m_work{QDir::tempPath() + "/tst_makehybrid [\\=]-XXXXXX"};
    QString m_folder;
    int m_serial = 0;
};

QTEST_GUILESS_MAIN(TestMakeHybrid)
#include "tst_makehybrid.moc"
