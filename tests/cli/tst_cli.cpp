// The terminal front end, run as a user would, against the fake disk tools.

#include "FakeVolume.h"

#include <QProcess>
#include <QTest>
#include <csignal>
#include <memory>

class CliRun : public FakeVolume {
public:
    CliRun() : FakeVolume("J_CCSA_X64FRE") { destination = root.filePath("Win11 x64-split.iso"); }

    std::unique_ptr<QProcess> start(const QStringList &arguments)
    {
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ISOSWM_HDIUTIL", ISOSWM_FAKES_DIR "/hdiutil");
        env.insert("ISOSWM_DISKUTIL", ISOSWM_FAKES_DIR "/diskutil");
        env.insert("ISOSWM_RESOURCES", resources);
        p->setProcessEnvironment(env);
        p->start(ISOSWM_BIN_DIR "/isoswm-cli", arguments);
        p->waitForStarted();
        return p;
    }

    int run(const QStringList &arguments, QByteArray *out = nullptr, QByteArray *err = nullptr)
    {
        const auto p = start(arguments);
        p->waitForFinished(60000);
        if (out)
            *out = p->readAllStandardOutput();
        if (err)
            *err = p->readAllStandardError();
        return p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    }

    QStringList besideDestination() const
    {
        return QDir(root.path()).entryList({"*split*"}, QDir::AllEntries | QDir::Hidden);
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
        for (const char *text : {"--force", "--verbose", "--direct", "--bootable", "Ctrl-C", "130"})
            QVERIFY2(out.contains(text), text);
        QCOMPARE(r.run({"--version"}, &out), 0);
        QVERIFY2(out.startsWith("isoswm-cli ") && out.size() > 12, out.constData());
        QCOMPARE(r.run({r.source}, nullptr, &err), 2);
        QVERIFY(err.contains("SOURCE.iso"));
        QCOMPARE(r.run({"--frobnicate", r.source, r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("frobnicate"));
        QCOMPARE(r.run({r.root.filePath("missing.iso"), r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("is not a file"));
        QVERIFY(r.calls().isEmpty()); // no tool ran
    }

    void convertsAndReplacesOnlyWhenForced()
    {
        CliRun r;
        QByteArray out, err;
        QCOMPARE(r.run({r.source, r.destination}, &out, &err), 0);
        QVERIFY(err.contains("ISO creation completed"));
        // The output's path, said once.
        QCOMPARE((out + err).count(r.destination.toUtf8()), 1);
        QVERIFY(out.contains("Created " + r.destination.toUtf8()));
        QVERIFY(r.read(r.destination).contains("./sources/install2.swm"));
        QVERIFY(!r.read(r.destination).contains("install.wim"));
        QVERIFY(r.leftoverTemporaryFolders().isEmpty());

        // An existing destination is refused, and left alone, without --force.
        FakeVolume::write(r.destination, "OLD");
        QCOMPARE(r.run({r.source, r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("--force"));
        QCOMPARE(r.read(r.destination), QByteArray("OLD"));
        QCOMPARE(r.run({"--force", r.source, r.destination}), 0);
        QVERIFY(r.read(r.destination).contains("./sources/install.swm"));
        QCOMPARE(r.besideDestination(), QStringList{"Win11 x64-split.iso"});
    }

    void failureExitsNonZeroWithTheToolsReason()
    {
        CliRun r;
        r.touch("wimsplit.fail", "[ERROR] Splitting of WIM containing solid resources is not "
                                 "supported\n");
        QByteArray out, err;
        QCOMPARE(r.run({r.source, r.destination}, &out, &err), 1);
        QVERIFY(err.contains("Splitting of WIM containing solid resources is not supported"));
        QVERIFY(!err.contains("ISO creation completed"));
        QCOMPARE((out + err).count(r.destination.toUtf8()), 1);
        QVERIFY(!QFile::exists(r.destination));
        QVERIFY(r.leftoverTemporaryFolders().isEmpty());
    }

    // Ctrl-C, kill and a closed terminal all cancel and wait for cleanup.
    void signalsCancelAndWaitForCleanup_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalsCancelAndWaitForCleanup()
    {
        QFETCH(int, signalNumber);
        CliRun r;
        r.touch("makehybrid.hang");
        const auto p = r.start({r.source, r.destination});
        const QString pidFile = r.fakeDir + "/makehybrid.pid";
        QTRY_VERIFY_WITH_TIMEOUT(processInPidFileAlive(pidFile), 20000);
        ::kill(p->processId(), signalNumber);
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 130);
        QVERIFY(!processInPidFileAlive(pidFile)); // the build's child is gone
        QVERIFY(r.leftoverTemporaryFolders().isEmpty());
        QVERIFY(r.besideDestination().isEmpty()); // nothing half-written
        const QByteArray err = p->readAllStandardError();
        QVERIFY(err.contains("Cancelled") && !err.contains("ISO creation completed"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
