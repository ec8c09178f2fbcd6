#include "ProcessFiles.h"
#include "QNTaskWrapperWithBlocks.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

// What a runner reported, in order.
struct Recorder {
    QStringList events;
    QStringList output;
    QStringList errors;
    int ends = 0;
    std::function<void()> onEnd;

    std::unique_ptr<QNTaskWrapperWithBlocks> make(const QStringList &arguments)
    {
        return std::make_unique<QNTaskWrapperWithBlocks>([this] { events << "start"; },
                                                         [this] {
                                                             events << "end";
                                                             ++ends;
                                                             if (onEnd)
                                                                 onEnd();
                                                         },
                                                         [this](const QString &t) {
                                                             events << "out";
                                                             output << t;
                                                         },
                                                         [this](const QString &t) {
                                                             events << "err";
                                                             errors << t;
                                                         },
                                                         arguments);
    }
};

static QStringList sh(const QString &script)
{
    return {"/bin/sh", "-c", script};
}

static bool processAlive(const QString &pidFile)
{
    return processInPidFileAlive(pidFile);
}

class TestProcess : public QObject {
    Q_OBJECT
private slots:
    void deliversOutputErrorAndExitStatus()
    {
        Recorder r;
        auto runner = r.make(sh("printf 'hello\\nworld\\n'; printf 'oops' >&2; exit 3"));
        runner->startProcess();
        QCOMPARE(r.events.value(0), QString("start"));
        QCOMPARE(r.ends, 0); // never ends inside startProcess
        QTRY_COMPARE(r.ends, 1);
        QCOMPARE(r.output.join(QString()), QString("hello\nworld\n"));
        QCOMPARE(r.errors.join(QString()), QString("oops"));
        QCOMPARE(r.events.last(), QString("end"));
        QCOMPARE(runner->terminationStatus(), 3);
        QCOMPARE(runner->terminationDescription(), QString("exited with status 3"));
    }

    void singleElementArgumentListRunsWithoutArguments()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath("count");
        QFile f(script);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho \"$#\"\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Recorder r;
        auto runner = r.make({script});
        runner->startProcess();
        QTRY_COMPARE(r.ends, 1);
        QCOMPARE(r.output.join(QString()), QString("0\n"));
        QCOMPARE(runner->terminationStatus(), 0);
    }

    void invalidUtf8ChunkArrivesAsNullString()
    {
        Recorder r;
        // A lone lead byte: the chunk ends inside a character.
        auto runner = r.make(sh("printf '\\303'"));
        runner->startProcess();
        QTRY_COMPARE(r.ends, 1);
        QCOMPARE(r.output.size(), 1);
        QVERIFY(r.output.first().isNull());

        Recorder valid;
        auto second = valid.make(sh("printf 'gr\\303\\274n'"));
        second->startProcess();
        QTRY_COMPARE(valid.ends, 1);
        QCOMPARE(valid.output.join(QString()), QString::fromUtf8("grün"));
        QVERIFY(!valid.output.first().isNull());
    }

    // A child that closes one of its streams and goes on working is not killed
    // for it: the runner ends once it has exited, with all its output.
    void earlyEndOfAStreamWaitsForTheExit_data()
    {
        QTest::addColumn<QString>("closed");
        QTest::newRow("standard error") << "2";
        QTest::newRow("standard output") << "1";
    }
    void earlyEndOfAStreamWaitsForTheExit()
    {
        QFETCH(QString, closed);
        QTemporaryDir dir;
        const QString marker = dir.filePath("finished");
        Recorder r;
        bool markerAtEnd = false;
        r.onEnd = [&] { markerAtEnd = QFile::exists(marker); };
        auto runner = r.make(sh(QString("exec %1>&-; sleep 0.4; echo still here; touch '%2'; "
                                        "exit 4")
                                    .arg(closed, marker)));
        runner->startProcess();
        QTRY_COMPARE(r.ends, 1);
        QVERIFY(markerAtEnd);
        QCOMPARE(runner->terminationStatus(), 4);
        QCOMPARE(r.output.join(QString()), closed == "2" ? QString("still here\n") : QString());
    }

    void stopEndsAfterTheChildIsGone_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("ends on SIGTERM") << "exec sleep 30" << 128 + SIGTERM;
        QTest::newRow("ignores SIGTERM")
            << "trap '' TERM; while :; do sleep 0.1; done" << 128 + SIGKILL;
    }

    void stopEndsAfterTheChildIsGone()
    {
        QFETCH(QString, script);
        QFETCH(int, status);
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        Recorder r;
        bool aliveAtEnd = true;
        r.onEnd = [&] { aliveAtEnd = processAlive(pidFile); };
        auto runner = r.make(sh(QString("echo $$ > '%1'; echo begun; %2").arg(pidFile, script)));
        runner->startProcess();
        QTRY_VERIFY(processAlive(pidFile));
        QTRY_VERIFY(!r.output.isEmpty());
        runner->stopProcess();
        QCOMPARE(r.ends, 1); // EndBlock ran inside stopProcess
        QVERIFY(!aliveAtEnd);
        QCOMPARE(runner->terminationStatus(), status);

        // Every further stop runs EndBlock again and nothing else.
        const int outputs = r.output.size();
        runner->stopProcess();
        QCOMPARE(r.ends, 2);
        QTest::qWait(100);
        QCOMPARE(r.output.size(), outputs);
    }

    void noTextCallbackAfterStopEvenForWrittenData()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        Recorder r;
        auto runner = r.make(
            sh(QString("echo $$ > '%1'; echo data; echo more >&2; exec sleep 30").arg(pidFile)));
        runner->startProcess();
        // Wait for the child without letting the event loop deliver anything.
        for (int i = 0; i < 500 && !processAlive(pidFile); ++i)
            ::usleep(10000);
        ::usleep(100000);
        runner->stopProcess();
        QTest::qWait(200);
        QCOMPARE(r.events, QStringList({"start", "end"}));
    }

    void stopBeforeStartEndsWithoutStarting()
    {
        Recorder r;
        auto runner = r.make(sh("echo never"));
        runner->stopProcess();
        QCOMPARE(r.events, QStringList({"end"}));
        QCOMPARE(runner->terminationStatus(), 0);
        runner->startProcess(); // an ended runner starts nothing
        QTest::qWait(200);
        QCOMPARE(r.events, QStringList({"end"}));
    }

    void programThatCannotStartEndsOnceWithReason()
    {
        QTemporaryDir dir;
        const QString notExecutable = dir.filePath("plain");
        QFile f(notExecutable);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\necho hi\n");
        f.close();

        for (const QString &program : {dir.filePath("missing"), notExecutable, QString()}) {
            Recorder r;
            auto runner = r.make({program, "arg"});
            runner->startProcess();
            QCOMPARE(r.ends, 0);
            QTRY_COMPARE(r.ends, 1);
            QTest::qWait(100);
            QCOMPARE(r.ends, 1);
            QCOMPARE(r.errors.size(), 1);
            QVERIFY2(!r.errors.first().isEmpty(), qPrintable(program));
            QVERIFY(r.output.isEmpty());
            QVERIFY(runner->terminationStatus() != 0);
        }
    }

    void childKilledBySignalIsNoSuccess()
    {
        Recorder r;
        auto runner = r.make(sh("kill -9 $$"));
        runner->startProcess();
        QTRY_COMPARE(r.ends, 1);
        QCOMPARE(runner->terminationStatus(), 128 + SIGKILL);
        QCOMPARE(runner->terminationDescription(), QString("was killed by signal 9 (Killed)"));
    }

    void destroyedRunnerStopsItsChildAndStaysSilent()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        Recorder r;
        auto runner = r.make(
            sh(QString("echo $$ > '%1'; while :; do echo tick; sleep 0.05; done").arg(pidFile)));
        runner->startProcess();
        QTRY_VERIFY(processAlive(pidFile));
        QTRY_VERIFY(!r.output.isEmpty());
        runner.reset();
        QVERIFY(!processAlive(pidFile));
        const QStringList before = r.events;
        QTest::qWait(200);
        QCOMPARE(r.events, before);
        QCOMPARE(r.ends, 0);
    }

    void endCallbackMayReleaseItsRunner()
    {
        Recorder r;
        std::unique_ptr<QNTaskWrapperWithBlocks> runner;
        r.onEnd = [&] { runner.reset(); };
        runner = r.make(sh("echo bye"));
        runner->startProcess();
        QTRY_COMPARE(r.ends, 1);
        QVERIFY(!runner);
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
