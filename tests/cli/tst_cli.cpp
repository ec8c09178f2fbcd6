// The terminal front end, run as a user would, against the fake disk tools.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class CliRun {
public:
    QTemporaryDir root;
    QString fake, tmp, volume, source, destination;

    CliRun()
    {
        fake = root.filePath("fake");
        tmp = root.filePath("tmp");
        volume = root.filePath("volumes/J_CCSA_X64FRE");
        source = root.filePath("Win11 x64.iso");
        destination = root.filePath("Win11 x64-split.iso");
        for (const QString &d :
             {fake, tmp, volume + "/sources", volume + "/boot", root.filePath("res/tools/bin")})
            QDir().mkpath(d);
        QFile::link(ISOSWM_FAKES_DIR "/wimsplit", root.filePath("res/tools/bin/wimsplit"));
        write(volume + "/sources/install.wim", "wim");
        write(volume + "/boot/bcd", "bcd");
        write(source, "image");
        write(fake + "/attach.out", "/dev/disk2\t\t" + volume.toUtf8() + "\n");
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(bytes);
    }

    QProcess *start(const QStringList &arguments)
    {
        auto *p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FAKE_DIR", fake);
        env.insert("TMPDIR", tmp);
        env.insert("ISOSWM_HDIUTIL", ISOSWM_FAKES_DIR "/hdiutil");
        env.insert("ISOSWM_DISKUTIL", ISOSWM_FAKES_DIR "/diskutil");
        env.insert("ISOSWM_RESOURCES", root.filePath("res"));
        p->setProcessEnvironment(env);
        p->start(ISOSWM_BIN_DIR "/isoswm-cli", arguments);
        p->waitForStarted();
        return p;
    }

    int run(const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr)
    {
        std::unique_ptr<QProcess> p(start(arguments));
        p->waitForFinished(60000);
        if (out)
            *out = p->readAllStandardOutput();
        if (err)
            *err = p->readAllStandardError();
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

    QByteArray destinationBytes()
    {
        QFile f(destination);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QStringList leftovers() { return QDir(tmp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot); }
    QStringList besideDestination()
    {
        return QDir(root.path()).entryList({"*split*"}, QDir::Files | QDir::Hidden);
    }
};

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void usage()
    {
        CliRun r;
        QByteArray out, err;
        QCOMPARE(r.run({"--help"}, &out), 0);
        QVERIFY(out.contains("--force"));
        QVERIFY(out.contains("Ctrl-C"));
        QCOMPARE(r.run({r.source}, nullptr, &err), 2);
        QVERIFY(err.contains("Usage"));
        QCOMPARE(r.run({r.root.filePath("missing.iso"), r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("is not a file"));
        QVERIFY(!QFile::exists(r.fake + "/calls")); // no tool ran
    }

    void convertsAndReplacesOnlyWhenForced()
    {
        CliRun r;
        QByteArray out, err;
        QCOMPARE(r.run({r.source, r.destination}, &out, &err), 0);
        QVERIFY(out.contains("Created " + r.destination.toUtf8()));
        QVERIFY(out.contains("Splitting install.wim"));
        QVERIFY(err.contains("ISO creation completed"));
        QVERIFY(r.destinationBytes().contains("./sources/install2.swm"));
        QVERIFY(!r.destinationBytes().contains("install.wim"));
        QVERIFY(r.leftovers().isEmpty());

        // An existing destination is refused, and left alone, without --force.
        CliRun::write(r.destination, "OLD");
        QCOMPARE(r.run({r.source, r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("--force"));
        QCOMPARE(r.destinationBytes(), QByteArray("OLD"));
        QCOMPARE(r.run({"--force", r.source, r.destination}), 0);
        QVERIFY(r.destinationBytes().contains("./sources/install.swm"));
        QCOMPARE(r.besideDestination(), QStringList{"Win11 x64-split.iso"});
    }

    void failureExitsNonZeroWithTheToolsReason()
    {
        CliRun r;
        CliRun::write(r.fake + "/wimsplit.fail",
                      "[ERROR] Splitting of WIM containing solid resources is not supported\n");
        QByteArray err;
        QCOMPARE(r.run({r.source, r.destination}, nullptr, &err), 1);
        QVERIFY(err.contains("Splitting of WIM containing solid resources is not supported"));
        QVERIFY(!err.contains("ISO creation completed"));
        QVERIFY(!QFile::exists(r.destination));
        QVERIFY(r.leftovers().isEmpty());
    }

    void ctrlCCancelsAndWaitsForCleanup()
    {
        CliRun r;
        CliRun::write(r.fake + "/makehybrid.hang", "");
        std::unique_ptr<QProcess> p(r.start({r.source, r.destination}));
        const QString pidFile = r.fake + "/makehybrid.pid";
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile), 20000);
        QFile f(pidFile);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const int buildPid = f.readAll().trimmed().toInt();
        ::kill(p->processId(), SIGINT);
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 130);
        QCOMPARE(::kill(buildPid, 0), -1); // the build's child is gone
        QVERIFY(r.leftovers().isEmpty());
        QVERIFY(r.besideDestination().isEmpty()); // nothing half-written
        QVERIFY(!p->readAllStandardError().contains("ISO creation completed"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
