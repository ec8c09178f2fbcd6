#include "ProcessFiles.h"
#include "QNTaskWrapperWithBlocks.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <unistd.h>

// What a runner reported, in order.
struct Recorder {
    QStringList events, output, errors;
    std::function<void()> onEnd;

    std::unique_ptr<QNTaskWrapperWithBlocks> make(const QStringList &arguments)
    {
        return std::make_unique<QNTaskWrapperWithBlocks>(
            [this] { events << "start"; }, [this] { events << "end", onEnd ? onEnd() : void(); },
            [this](const QString &t) { events << "out", output << t; },
            [this](const QString &t) { events << "err", errors << t; }, arguments);
    }
};

static const auto sh = [](const QString &script) { return QStringList{"/bin/sh", "-c", script}; };

class TestProcess : public QObject {
    Q_OBJECT
private slots:
    // Output, errors and the end arrive after startProcess, once; a closed stream is no end.
    void reportsHowTheChildEnded_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("out"); // null: no text, or a chunk that is not UTF-8
        QTest::addColumn<QString>("err"); // a pattern
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("description");
        const QString none, exited = "exited with status %1", unstartable = "could not be started";
        QTest::newRow("output and status")
            << sh("printf 'gr\\303\\274n'; printf 'oops' >&2; exit 3") << "grün" << QString("oops")
            << 3 << exited.arg(3);
        QTest::newRow("no arguments")
            << QStringList{"/bin/echo"} << QString("\n") << none << 0 << exited.arg(0);
        QTest::newRow("not UTF-8") << sh("printf '\\303'") << none << none << 0 << exited.arg(0);
        QTest::newRow("stderr closed early") << sh("exec 2>&-; sleep 0.4; printf late; exit 4")
                                             << "late" << none << 4 << exited.arg(4);
        QTest::newRow("stdout closed early") << sh("exec 1>&-; sleep 0.4; printf late >&2; exit 4")
                                             << none << "late" << 4 << exited.arg(4);
        QTest::newRow("killed") << sh("kill -9 $$") << none << none << 128 + SIGKILL
                                << "was killed by signal 9 (Killed)";
        QTest::newRow("missing") << QStringList{"/nonexistent/tool", "arg"} << none
                                 << "/nonexistent/tool: .+" << 127 << unstartable;
        QTest::newRow("no program")
            << QStringList{QString(), "arg"} << none << "no program to run" << 127 << unstartable;
    }
    void reportsHowTheChildEnded()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, out);
        QFETCH(QString, err);
        Recorder r;
        auto runner = r.make(arguments);
        runner->startProcess();
        QCOMPARE(r.events, QStringList{"start"});
        QTRY_COMPARE(r.events.count("end"), 1);
        QTest::qWait(50);
        QCOMPARE(r.events.indexOf("end"), r.events.size() - 1); // once, and nothing after it
        QCOMPARE(r.output.join(QString()), out);
        QCOMPARE(r.output.value(0).isNull(), out.isNull());
        QVERIFY(QRegularExpression('^' + err + '$').match(r.errors.join(QString())).hasMatch());
        QTEST(runner->terminationStatus(), "status");
        QTEST(runner->terminationDescription(), "description");
    }

    // stopProcess returns with the child gone (SIGKILL after the grace period) and
    // EndBlock run; text the child wrote but we had not read yet is dropped.
    void stopEndsAfterTheChildIsGone_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        const QString writes = "echo $$ > '%1'; sleep 0.2; echo late; echo late >&2; ";
        QTest::newRow("ends on SIGTERM") << writes + "exec sleep 30" << 128 + SIGTERM;
        QTest::newRow("ignores SIGTERM")
            << "trap '' TERM; " + writes + "while :; do sleep 0.1; done" << 128 + SIGKILL;
    }
    void stopEndsAfterTheChildIsGone()
    {
        QFETCH(QString, script);
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        Recorder r;
        bool aliveAtEnd = true;
        r.onEnd = [&] { aliveAtEnd = processInPidFileAlive(pidFile); };
        auto runner = r.make(sh(script.arg(pidFile)));
        runner->startProcess();
        QTRY_VERIFY(processInPidFileAlive(pidFile));
        ::usleep(500000); // the text is written while the event loop cannot deliver it
        runner->stopProcess();
        QCOMPARE(r.events, QStringList({"start", "end"}));
        QVERIFY(!aliveAtEnd);
        QTEST(runner->terminationStatus(), "status");
        // Every further stop runs EndBlock again and nothing else.
        runner->stopProcess();
        QTest::qWait(100);
        QCOMPARE(r.events, QStringList({"start", "end", "end"}));
    }

    void stopBeforeStartEndsWithoutStarting()
    {
        Recorder r;
        auto runner = r.make(sh("echo never"));
        runner->stopProcess();
        runner->startProcess(); // an ended runner starts nothing
        QTest::qWait(200);
        QCOMPARE(r.events, QStringList({"end"}));
    }

    void destroyedRunnerStopsItsChildAndStaysSilent()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        Recorder r;
        auto runner = r.make(
            sh(QString("echo $$ > '%1'; while :; do echo tick; sleep 0.05; done").arg(pidFile)));
        runner->startProcess();
        QTRY_VERIFY(!r.output.isEmpty());
        const QStringList before = r.events;
        runner.reset();
        QVERIFY(!processInPidFileAlive(pidFile));
        QTest::qWait(200);
        QCOMPARE(r.events, before); // not even EndBlock
    }

    void endCallbackMayReleaseItsRunner()
    {
        Recorder r;
        std::unique_ptr<QNTaskWrapperWithBlocks> runner;
        r.onEnd = [&] { runner.reset(); };
        runner = r.make(sh("echo bye"));
        runner->startProcess();
        QTRY_VERIFY(!runner);
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
