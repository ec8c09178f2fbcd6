// What hdiutil makehybrid refuses, run for real (genisoimage): in one line,
// leaving nothing behind. Built images are checked in tst_disktools, which
// mounts one, and cancels a build.

#include "DiskTestSupport.h"

#include <QTemporaryDir>
#include <QTest>

using namespace DiskTest;

class TestMakeHybrid : public QObject {
    Q_OBJECT

private slots:
    void refusesWhatTheImageCannotHold_data()
    {
        QTest::addColumn<QString>("item"); // written in the folder, and named in the complaint
        QTest::addColumn<QStringList>("options"); // "@" stands for the folder
        // genisoimage would write each of these changed, cut or broken.
        QTest::newRow("colon") << "sources/a:b.txt" << QStringList();
        QTest::newRow("question mark in a folder") << "why?/file.txt" << QStringList();
        QTest::newRow("tab") << "tab\there.txt" << QStringList();
        QTest::newRow("beyond U+FFFF") << "emoji 😀.txt" << QStringList();
        QTest::newRow("255 ASCII characters") << QString(255, 'x') << QStringList();
        QTest::newRow("128, one above U+00FF") << "日" + QString(127, 'B') << QStringList();
        QTest::newRow("symbolic link") << "link" << QStringList();
        // Options that do not fit the folder.
        QTest::newRow("graft over an item")
            << "fine.txt: the folder holds it" << QStringList{"-graft", "fine.txt=@/fine.txt"};
        QTest::newRow("exclusion of nothing") << "missing" << QStringList{"-exclude", "missing"};
        QTest::newRow("boot option first") << "-no-emul-boot" << QStringList{"-no-emul-boot"};
        // An OUT that exists is kept as it is.
        QTest::newRow("existing OUT") << "../out/DISC.iso" << QStringList();
        // Builds run under a 16 MiB file size limit, which makes genisoimage's
        // writes fail (EFBIG, the signal being ignored) half-way through this one.
        QTest::newRow("failed write") << "genisoimage" << QStringList();
    }
    void refusesWhatTheImageCannotHold()
    {
        QFETCH(QString, item);
        QFETCH(QStringList, options);
        QTemporaryDir work(QDir::tempPath() + "/tst_makehybrid [\\=]-XXXXXX");
        const QString folder = work.filePath("DISC"), out = work.filePath("out");
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(folder + "/fine.txt", item == "genisoimage" ? 20 << 20 : 10, 1));
        if (item == "link")
            QVERIFY(QFile::link("fine.txt", folder + "/link"));
        else if (options.isEmpty() && item != "genisoimage")
            QVERIFY(writeFile(folder + '/' + item, 10, 2));
        const QString script = "trap '' XFSZ; ulimit -f 16384; exec \"$@\"";
        const Run made = run(QStringList{"bash", "-c", script, "limit", kHdiutil, "makehybrid",
                                         "-o", out + "/DISC.iso"} +
                                 options.replaceInStrings("@", folder)
                             << folder);
        QCOMPARE(made.exitCode, 1);
        QCOMPARE(made.err.count('\n'), 1);
        const bool outExisted = item.startsWith("../out/");
        const QString named = outExisted ? "DISC.iso: File exists" : item.section('/', 0, 0);
        QVERIFY2(QString::fromUtf8(made.err).contains(named), made.err.data());
        QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 outExisted ? QStringList{"DISC.iso"} : QStringList());
        QVERIFY(!outExisted || QFileInfo(out + "/DISC.iso").size() == 10);
    }
};

QTEST_GUILESS_MAIN(TestMakeHybrid)
#include "tst_makehybrid.moc"
