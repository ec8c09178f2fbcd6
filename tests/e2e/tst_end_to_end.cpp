// Real conversions with isoswm-cli, the Linux disk tools, wimlib and FUSE, of
// images made by scripts/make-sample-iso.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

namespace {

const QString kLabel = QStringLiteral("CCCOMA_X64FRE_EN-US_DV9");

struct Ran {
    int code = -1;
    QByteArray out, err;
};

Ran run(const QString &program, const QStringList &arguments, const QString &tmpdir = {},
        int timeoutMs = 900000)
{
    QProcess p;
    if (!tmpdir.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmpdir);
        p.setProcessEnvironment(env);
    }
    p.start(program, arguments);
    p.waitForFinished(timeoutMs);
    Ran r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString hdiutil()
{
    return QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
}
QString cli()
{
    return QStringLiteral(ISOSWM_BIN_DIR "/isoswm-cli");
}

QString attach(const QString &image)
{
    const Ran r = run(hdiutil(), {"attach", image});
    if (r.code != 0)
        return {};
    return QString::fromUtf8(r.out).section('\t', -1).trimmed();
}

void detach(const QString &mountPoint)
{
    if (!mountPoint.isEmpty())
        run(hdiutil(), {"unmount", mountPoint});
}

// Our mounts of the given images, from the attached-image list.
bool attached(const QString &image)
{
    return run(hdiutil(), {"info", "-plist"}).out.contains(image.toUtf8());
}

int fileSystemProcesses()
{
    int count = 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmd("/proc/" + pid + "/cmdline");
        if (cmd.open(QIODevice::ReadOnly) && cmd.readAll().contains(ISOSWM_LIBEXEC_DIR))
            ++count;
    }
    return count;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
    QTemporaryDir m_work{QDir::tempPath() + "/isoswm-e2e-XXXXXX"};
    QString m_sample;
    int m_processesBefore = 0;

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_processesBefore = fileSystemProcesses();
        m_sample = m_work.filePath("Win10 Sample x64.iso");
        const Ran made =
            run(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso", {"--wim-mib", "2100", m_sample});
        QVERIFY2(made.code == 0, made.err.constData());
    }

    void convertsALargeImage()
    {
        const QString tmp = m_work.filePath("tmp-convert");
        QDir().mkpath(tmp);
        const QString out = m_work.filePath("Win10 Sample x64-split.iso");
        const Ran converted = run(cli(), {m_sample, out}, tmp);
        QVERIFY2(converted.code == 0, converted.err.constData());
        QVERIFY(converted.out.contains("Created "));
        QVERIFY(entries(tmp).isEmpty());
        QVERIFY(!attached(m_sample));
        QCOMPARE(fileSystemProcesses(), m_processesBefore);
        QCOMPARE(entries(m_work.path()).filter(".part").size(), 0);

        const QString before = attach(m_sample);
        QVERIFY(!before.isEmpty());
        const QString after = attach(out);
        QVERIFY(!after.isEmpty());
        const auto cleanup = qScopeGuard([&] {
            detach(after);
            detach(before);
        });
        // The label is kept: the new image mounts under the same volume name.
        QVERIFY2(QFileInfo(after).fileName().startsWith(kLabel), qPrintable(after));

        const QString sources = after + "/sources";
        QVERIFY(!QFile::exists(sources + "/install.wim"));
        QVERIFY(QFile::exists(sources + "/install.swm"));
        QVERIFY(QFile::exists(sources + "/install2.swm"));
        for (const QString &piece : QDir(sources).entryList({"install*.swm"}))
            QVERIFY(QFileInfo(sources + "/" + piece).size() < (qint64(4) << 30));
        const Ran verified =
            run("wimverify", {sources + "/install.swm", "--ref=" + sources + "/install*.swm"});
        QVERIFY2(verified.code == 0, (verified.out + verified.err).constData());

        // Everything else is byte for byte what the source holds.
        const Ran diff = run("diff", {"-r", "--no-dereference", "-x", "install.wim", "-x",
                                      "install*.swm", before, after});
        QVERIFY2(diff.code == 0, (diff.out + diff.err).left(2000).constData());
        QVERIFY(QDirIterator(before, QDir::Files, QDirIterator::Subdirectories).hasNext());
    }

    void cancelInTheMiddleOfTheCopy()
    {
        const QString tmp = m_work.filePath("tmp-cancel");
        QDir().mkpath(tmp);
        const QString out = m_work.filePath("cancelled.iso");
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", tmp);
        p.setProcessEnvironment(env);
        p.start(cli(), {m_sample, out});
        // Cancel once the copy is under way: install.wim is large, so the copy
        // is still running when the first lines about it arrive.
        QByteArray seen;
        QVERIFY(QTest::qWaitFor(
            [&] {
                seen += p.readAllStandardOutput();
                return seen.contains("copying install.wim") || p.state() == QProcess::NotRunning;
            },
            120000));
        QVERIFY(p.state() == QProcess::Running);
        ::kill(p.processId(), SIGINT);
        QVERIFY(p.waitForFinished(120000));
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(entries(tmp).isEmpty());
        QVERIFY(!QFile::exists(out));
        QCOMPARE(entries(m_work.path()).filter(".part").size(), 0);
        QVERIFY(!attached(m_sample));
        QCOMPARE(fileSystemProcesses(), m_processesBefore);
    }

    void solidImageFailsWithTheSplitToolsReason()
    {
        const QString solid = m_work.filePath("solid.iso");
        const Ran made =
            run(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso", {"--solid", "--wim-mib", "8", solid});
        QVERIFY2(made.code == 0, made.err.constData());
        const QString tmp = m_work.filePath("tmp-solid");
        QDir().mkpath(tmp);
        const QString out = m_work.filePath("solid-split.iso");
        const Ran converted = run(cli(), {solid, out}, tmp);
        QCOMPARE(converted.code, 1);
        QVERIFY2(converted.err.contains("solid resources"), converted.err.constData());
        QVERIFY(!converted.err.contains("ISO creation completed"));
        QVERIFY(!QFile::exists(out));
        QVERIFY(entries(tmp).isEmpty());
        QVERIFY(!attached(solid));
        QCOMPARE(fileSystemProcesses(), m_processesBefore);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
