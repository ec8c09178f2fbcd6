// hdiutil makehybrid run for real (genisoimage), each image checked by
// mounting it again with our own attach; and scripts/make-sample-iso.

#include "DiskTestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace DiskTest;

class TestMakeHybrid : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void imageHoldsTheTreeAndLabel();
    void longFolderNameGivesCutLabel();
    void refusesExistingOutput();
    void refusesTreesTheImageCannotHold_data();
    void refusesTreesTheImageCannotHold();
    void genisoimageFailureLeavesNoOutput();
    void terminationLeavesNoOutput();
    void sampleIsoLooksLikeWindows();
    void sampleIsoSolidWim();

private:
    QString freshFolder(const QString &name);
    Run makeHybrid(const QString &out, const QString &folder);
    QString attachOrEmpty(const QString &image);
    // Nothing but `expected` in OUT's folder: no partial output, no temporary.
    bool onlyEntries(const QString &folder, const QStringList &expected, QString *why);

    QTemporaryDir m_work;
    QString m_folder;
    int m_serial = 0;
};

static QString repeated(const QString &piece, int count)
{
    return piece.repeated(count);
}

void TestMakeHybrid::initTestCase()
{
    if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL("/dev/fuse is missing: built images cannot be mounted again");
        QSKIP("/dev/fuse is missing");
    }
    QVERIFY(m_work.isValid());
    const QString runtime = m_work.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    m_folder = runtime + QStringLiteral("/isoswm");
}

void TestMakeHybrid::cleanup()
{
    forceCleanup(m_folder);
}

// A new parent folder per case, so each OUT folder holds only what the case made.
QString TestMakeHybrid::freshFolder(const QString &name)
{
    const QString parent = m_work.filePath(QStringLiteral("case%1").arg(++m_serial));
    QDir().mkpath(parent + '/' + name);
    QDir().mkpath(parent + "/out");
    return parent + '/' + name;
}

Run TestMakeHybrid::makeHybrid(const QString &out, const QString &folder)
{
    return run(hdiutil(), {QStringLiteral("makehybrid"), QStringLiteral("-iso"),
                           QStringLiteral("-udf"), QStringLiteral("-o"), out, folder});
}

QString TestMakeHybrid::attachOrEmpty(const QString &image)
{
    const Run attached = run(hdiutil(), {QStringLiteral("attach"), image});
    if (attached.exitCode != 0)
        qWarning("attach %s failed: %s", qPrintable(image), attached.err.constData());
    return attached.exitCode == 0 ? mountPointFromAttach(attached.out) : QString();
}

bool TestMakeHybrid::onlyEntries(const QString &folder, const QStringList &expected, QString *why)
{
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                       QDir::System | QDir::NoDotAndDotDot);
    if (entries == expected)
        return true;
    *why = QStringLiteral("%1 holds: %2").arg(folder, entries.join(QStringLiteral(", ")));
    return false;
}

void TestMakeHybrid::imageHoldsTheTreeAndLabel()
{
    // Named and laid out like the staging copy of a Windows disc.
    const QString folder = freshFolder(QStringLiteral("CCCOMA_X64FRE_EN-US_DV9"));
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
    QVERIFY(writeFile(folder + '/' + repeated(QStringLiteral("N"), 120), 10, 8));
    QVERIFY(writeFile(folder + "/sources/" + repeated(QStringLiteral("L"), 254), 10, 9));
    QVERIFY(writeFile(folder + '/' + repeated(QStringLiteral("ā"), 127), 10, 10));
    QVERIFY(writeFile(folder + '/' + repeated(QStringLiteral("d"), 120) + '/' +
                          repeated(QStringLiteral("e"), 120) + "/deep.txt",
                      10, 11));
    QFile::setPermissions(folder + "/sources", QFileDevice::Permissions(0x7777));

    const QString out = QFileInfo(folder).path() + "/out/split.iso";
    const Run made = makeHybrid(out, folder);
    QVERIFY2(made.exitCode == 0, made.err.constData());
    QString why;
    QVERIFY2(onlyEntries(QFileInfo(out).path(), {QStringLiteral("split.iso")}, &why),
             qPrintable(why));

    const QString mountPoint = attachOrEmpty(out);
    QCOMPARE(QFileInfo(mountPoint).fileName(), QStringLiteral("CCCOMA_X64FRE_EN-US_DV9"));
    QVERIFY2(sameTree(folder, mountPoint, &why), qPrintable(why));
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
}

void TestMakeHybrid::longFolderNameGivesCutLabel()
{
    const QString name = QStringLiteral("ABCDEFGHIJ_KLMNOPQRST_UVWXYZ_0123456789");
    const QString folder = freshFolder(name);
    QVERIFY(writeFile(folder + "/file.txt", 10, 1));
    const QString out = QFileInfo(folder).path() + "/out/long.iso";
    QCOMPARE(makeHybrid(out, folder).exitCode, 0);
    const QString mountPoint = attachOrEmpty(out);
    const QString label = QFileInfo(mountPoint).fileName();
    // ISO 9660 takes 32 bytes of it, the UDF volume identifier 30 of those.
    QVERIFY2(label.size() >= 30 && label.size() <= 32 && name.startsWith(label), qPrintable(label));
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
}

void TestMakeHybrid::refusesExistingOutput()
{
    const QString folder = freshFolder(QStringLiteral("DISC"));
    QVERIFY(writeFile(folder + "/file.txt", 10, 1));
    const QString out = QFileInfo(folder).path() + "/out/taken.iso";
    QFile existing(out);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("keep me");
    existing.close();

    const Run made = makeHybrid(out, folder);
    QVERIFY(made.exitCode != 0);
    QVERIFY(made.err.contains("exists"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("keep me"));
    QString why;
    QVERIFY2(onlyEntries(QFileInfo(out).path(), {QStringLiteral("taken.iso")}, &why),
             qPrintable(why));
}

void TestMakeHybrid::refusesTreesTheImageCannotHold_data()
{
    QTest::addColumn<QString>("item");
    // genisoimage would write each of these changed, cut or broken.
    QTest::newRow("colon") << QStringLiteral("sources/a:b.txt");
    QTest::newRow("backslash") << QStringLiteral("a\\b.txt");
    QTest::newRow("question mark in a folder") << QStringLiteral("why?/file.txt");
    QTest::newRow("tab") << QStringLiteral("tab\there.txt");
    QTest::newRow("beyond U+FFFF") << QStringLiteral("emoji 😀.txt");
    QTest::newRow("255 ASCII characters") << repeated(QStringLiteral("x"), 255);
    QTest::newRow("128 characters, one above U+00FF")
        << QStringLiteral("日") + repeated(QStringLiteral("B"), 127);
    QTest::newRow("symbolic link") << QStringLiteral("link");
}

void TestMakeHybrid::refusesTreesTheImageCannotHold()
{
    QFETCH(QString, item);
    const QString folder = freshFolder(QStringLiteral("DISC"));
    QVERIFY(writeFile(folder + "/fine.txt", 10, 1));
    if (item == QLatin1String("link"))
        QVERIFY(QFile::link(QStringLiteral("fine.txt"), folder + "/link"));
    else
        QVERIFY(writeFile(folder + '/' + item, 10, 2));

    const QString out = QFileInfo(folder).path() + "/out/refused.iso";
    const Run made = makeHybrid(out, folder);
    QVERIFY(made.exitCode != 0);
    const QString reason = QString::fromUtf8(made.err);
    QCOMPARE(reason.count(QLatin1Char('\n')), 1);
    QVERIFY2(reason.contains(item.section(QLatin1Char('/'), 0, 0)), qPrintable(reason));
    QString why;
    QVERIFY2(onlyEntries(QFileInfo(out).path(), {}, &why), qPrintable(why));
}

void TestMakeHybrid::genisoimageFailureLeavesNoOutput()
{
    const QString folder = freshFolder(QStringLiteral("DISC"));
    QVERIFY(writeFile(folder + "/big.bin", 4 * 1024 * 1024, 1));
    const QString out = QFileInfo(folder).path() + "/out/failed.iso";
    // A file size limit makes genisoimage's writes fail (EFBIG, the signal
    // being ignored) half-way through the image.
    const Run made =
        run(QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"),
             QStringLiteral(
                 "trap '' XFSZ; ulimit -f 1024; exec \"$0\" makehybrid -iso -udf -o \"$1\" \"$2\""),
             hdiutil(), out, folder});
    QVERIFY(made.exitCode != 0);
    QVERIFY2(made.err.contains("genisoimage"), made.err.constData());
    QString why;
    QVERIFY2(onlyEntries(QFileInfo(out).path(), {}, &why), qPrintable(why));
}

void TestMakeHybrid::terminationLeavesNoOutput()
{
    const QString folder = freshFolder(QStringLiteral("DISC"));
    QFile large(folder + "/large.bin");
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(qint64(3) << 30)); // sparse; genisoimage writes it out
    large.close();
    const QString out = QFileInfo(folder).path() + "/out/cancelled.iso";

    QProcess process;
    process.start(hdiutil(), {QStringLiteral("makehybrid"), QStringLiteral("-iso"),
                              QStringLiteral("-udf"), QStringLiteral("-o"), out, folder});
    QVERIFY(process.waitForReadyRead(30000));
    QThread::msleep(300);
    QVERIFY(process.state() == QProcess::Running);
    process.terminate();
    QVERIFY(process.waitForFinished(30000));
    QVERIFY(process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0);
    QString why;
    QVERIFY2(onlyEntries(QFileInfo(out).path(), {}, &why), qPrintable(why));
    QVERIFY(processesWithArgument(folder).isEmpty()); // genisoimage went too
}

void TestMakeHybrid::sampleIsoLooksLikeWindows()
{
    const QString script = QStringLiteral(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso");
    const QString iso = m_work.filePath(QStringLiteral("sample.iso"));
    const Run made = run(script, {QStringLiteral("--wim-mib"), QStringLiteral("8"), iso});
    QVERIFY2(made.exitCode == 0, made.err.constData());
    QVERIFY(run(script, {QStringLiteral("--wim-mib"), QStringLiteral("1"), iso}).exitCode != 0);

    const QString mountPoint = attachOrEmpty(iso);
    QCOMPARE(QFileInfo(mountPoint).fileName(), QStringLiteral("CCCOMA_X64FRE_EN-US_DV9"));
    const QMap<QString, qint64> entries = listing(mountPoint);
    for (const char *path :
         {"boot", "efi/boot/bootx64.efi", "bootmgr", "setup.exe", "sources/boot.wim"})
        QVERIFY2(entries.contains(QString::fromUtf8(path)), path);
    QVERIFY(entries.value(QStringLiteral("sources/install.wim")) >= 8 << 20);
    int files = 0, spaced = 0, nonAscii = 0;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        files += it.value() >= 0;
        spaced += it.key().contains(QLatin1Char(' '));
        nonAscii += std::any_of(it.key().begin(), it.key().end(),
                                [](QChar c) { return c.unicode() > 127; });
    }
    QVERIFY2(files >= 250, qPrintable(QString::number(files)));
    QVERIFY(spaced > 0 && nonAscii > 0);
    const Run wiminfo = run(QStringLiteral("wiminfo"), {mountPoint + "/sources/install.wim"});
    QVERIFY2(wiminfo.exitCode == 0, wiminfo.err.constData());
    QVERIFY(wiminfo.out.contains("Image Count:"));
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
}

void TestMakeHybrid::sampleIsoSolidWim()
{
    const QString script = QStringLiteral(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso");
    const QString iso = m_work.filePath(QStringLiteral("solid.iso"));
    const Run made = run(
        script, {QStringLiteral("--wim-mib"), QStringLiteral("4"), QStringLiteral("--solid"), iso});
    QVERIFY2(made.exitCode == 0, made.err.constData());
    const QString mountPoint = attachOrEmpty(iso);
    QVERIFY(!mountPoint.isEmpty());
    // What the conversion meets with such a disc: wimsplit refuses solid WIMs.
    const Run split = run(QStringLiteral("wimsplit"),
                          {mountPoint + "/sources/install.wim",
                           m_work.filePath(QStringLiteral("solid.swm")), QStringLiteral("1")});
    QVERIFY(split.exitCode != 0);
    QVERIFY2(split.err.contains("solid"), split.err.constData());
    QCOMPARE(run(hdiutil(), {QStringLiteral("unmount"), mountPoint}).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestMakeHybrid)
#include "tst_makehybrid.moc"
