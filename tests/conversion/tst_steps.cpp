// A run's pieces one at a time, each with a context of its own: the order of a
// sequence and of the teardown, the pair that verifies beside the build, and
// the steps that run a tool or a worker, failing, dying, filling a disk and
// cancelled inside.

#include "Bundle.h"
#include "ExportStep.h"
#include "FakeVolume.h"
#include "RunContext.h"
#include "ScriptedPrompts.h"
#include "Sequence.h"
#include "SplitStep.h"
#include "StagingCopyStep.h"

#include <QScopeGuard>
#include <sys/mount.h>
#include <unistd.h>

// A step that ends when it is told to, and says what was asked of it.
class ScriptedStep : public Step {
public:
    ScriptedStep(QStringList &log, QString name, std::optional<StepEnd> atOnce = std::nullopt)
        : m_log(log), m_name(std::move(name)), m_atOnce(std::move(atOnce))
    {}
    void endNow(const StepEnd &e) { end(e); }
    void foreground() override { m_log << m_name + " foreground"; }

protected:
    void run() override
    {
        m_log << m_name + " start";
        if (m_atOnce)
            end(*m_atOnce);
    }
    void stop() override
    {
        m_log << m_name + " cancel";
        end(StepEnd::stopped());
    }

private:
    QStringList &m_log;
    QString m_name;
    std::optional<StepEnd> m_atOnce;
};

// A context of a running run, and what it reports.
struct Rig {
    ScriptedPrompts prompts;
    RunContext context{&prompts};
    QList<float> milestones;
    std::optional<StepEnd> ended;

    Rig()
    {
        context.setRunning(true);
        QObject::connect(&context, &RunContext::milestone, [this](float v) { milestones << v; });
    }
    void start(Step &step)
    {
        step.start(context, {0, 100}, [this](const StepEnd &end) { ended = end; });
    }
    // Starts `step` and waits for its end.
    StepEnd run(Step &step)
    {
        start(step);
        return QTest::qWaitFor([this] { return ended.has_value(); }, 60000) ? *ended
                                                                            : StepEnd::stopped();
    }
};

static StepEnd failure(const QString &why)
{
    return StepEnd::failed({why, QString()});
}

class TestSteps : public QObject {
    Q_OBJECT
private slots:
    void sequenceAndTeardown()
    {
        Rig rig;
        QStringList log;
        Sequence run;
        const auto step = [&log](const char *name, std::optional<StepEnd> end) {
            return [&log, name, end] { return std::make_unique<ScriptedStep>(log, name, end); };
        };
        run.add(step("A", StepEnd::done())).milestoneAfter(10);
        run.add([] { return std::unique_ptr<Step>(); }).milestoneBefore(15); // skipped
        run.add(step("B", StepEnd::done())).milestoneBefore(20);
        run.add(step("C", failure("broken"))).milestoneAfter(30);
        run.add(step("D", StepEnd::done()));
        QCOMPARE(rig.run(run).kind, StepEnd::Kind::Failed);
        QCOMPARE(rig.ended->error.message, "broken");
        QCOMPARE(log, QStringList({"A start", "B start", "C start"}));
        QCOMPARE(rig.milestones, QList<float>({10, 20}));

        // Undone last in, first out, each once, an undo that answers later included.
        QStringList undone;
        Teardown &teardown = rig.context.teardown();
        for (const char *name : {"mount", "folder", "drive"})
            teardown.push([&undone, name](std::function<void()> next) {
                undone << name;
                QTimer::singleShot(1, next);
            });
        int ends = 0;
        teardown.run([&ends] { ++ends; });
        QTRY_COMPARE(ends, 1);
        teardown.run([&ends] { ++ends; });
        QCOMPARE(ends, 2);
        QCOMPARE(undone, QStringList({"drive", "folder", "mount"}));

        // A cancel goes to the step that runs; the rest never starts.
        Rig second;
        QStringList cancelled;
        Sequence other;
        other.add([&] { return std::make_unique<ScriptedStep>(cancelled, "E"); });
        other.add([&] { return std::make_unique<ScriptedStep>(cancelled, "F"); });
        second.start(other);
        other.cancel();
        QCOMPARE(second.ended->kind, StepEnd::Kind::Stopped);
        QCOMPARE(cancelled, QStringList({"E start", "E cancel"}));
    }

    // Verification (first) beside the build (second): the first failure
    // stops the other and is the one told; a build done first hands the bar on.
    void bothSideBySide_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("verification fails first")
            << 0 << true << QStringList({"verify start", "build start", "build cancel"});
        QTest::newRow("build fails first")
            << 1 << true << QStringList({"verify start", "build start", "verify cancel"});
        QTest::newRow("build done first")
            << 1 << false << QStringList({"verify start", "build start", "verify foreground"});
        QTest::newRow("verification done first")
            << 0 << false << QStringList({"verify start", "build start"});
    }
    void bothSideBySide()
    {
        QFETCH(int, first);
        QFETCH(bool, fails);
        QFETCH(QStringList, expected);
        Rig rig;
        QStringList log;
        auto verify = std::make_unique<ScriptedStep>(log, "verify");
        auto build = std::make_unique<ScriptedStep>(log, "build");
        ScriptedStep *steps[] = {verify.get(), build.get()};
        Both both(std::move(verify), {80, 82}, std::move(build), {82, 90});
        rig.start(both);
        steps[first]->endNow(fails ? failure(first ? "build" : "verify") : StepEnd::done());
        if (!fails) {
            QVERIFY(!rig.ended);
            steps[1 - first]->endNow(StepEnd::done());
        }
        QCOMPARE(log, expected);
        QVERIFY(rig.ended);
        QCOMPARE(rig.ended->kind, fails ? StepEnd::Kind::Failed : StepEnd::Kind::Done);
        if (fails)
            QCOMPARE(rig.ended->error.message, first ? "build" : "verify");
    }

    // wimsplit through the process runner: its own words, a full disk named by
    // the temporary folder, a death, pieces missing or too large, a cancel.
    void split_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expected"); // empty: done
        QTest::newRow("split") << ""
                               << "";
        QTest::newRow("fails") << "wimsplit.fail"
                               << "it went wrong here";
        QTest::newRow("disk fills up") << "wimsplit.partfail"
                                       << "no space left in “@TMP@”";
        QTest::newRow("no pieces") << "wimsplit.nopieces"
                                   << "without writing";
        QTest::newRow("piece too large") << "wimsplit.bigpiece"
                                         << "install3.swm holds 4294967296";
        QTest::newRow("killed") << "kill"
                                << "wimsplit was killed by signal 9 (Killed).";
        QTest::newRow("cancelled") << "cancel"
                                   << "";
    }
    void split()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, expected);
        FakeVolume v;
        Bundle::setResourcesPath(v.resources);
        const auto reset = qScopeGuard([] { Bundle::setResourcesPath({}); });
        const QString folder = v.tmpDir + "/work";
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(FakeVolume::sampleWim(), folder + "/install.wim"));
        const bool hangs = scenario == "kill" || scenario == "cancel";
        if (!scenario.isEmpty())
            v.touch(hangs ? "wimsplit.hang" : scenario, "[ERROR] it went wrong here\n");
        const SplitSet set{folder + "/install.wim", folder, false};
        SplitStep step(set, v.tmpDir);
        Rig rig;
        QNTaskWrapperWithBlocks *runner = nullptr;
        QObject::connect(&rig.context, &RunContext::splitRunnerStarted,
                         [&runner](QNTaskWrapperWithBlocks *r) { runner = r; });
        rig.start(step);
        QVERIFY(runner);
        if (hangs) {
            QTRY_VERIFY(processInPidFileAlive(v.fakeDir + "/wimsplit.pid"));
            if (scenario == "cancel")
                step.cancel();
            else
                QProcess::execute("pkill", {"-KILL", "-F", v.fakeDir + "/wimsplit.pid"});
        }
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended.has_value(), 30000);
        QVERIFY(!runner->isProcessRunning());
        if (scenario == "cancel") {
            QCOMPARE(rig.ended->kind, StepEnd::Kind::Stopped);
            QVERIFY(!processInPidFileAlive(v.fakeDir + "/wimsplit.pid"));
        } else if (expected.isEmpty()) {
            QCOMPARE(rig.ended->kind, StepEnd::Kind::Done);
            QCOMPARE(set.pieces(), QStringList({"install.swm", "install2.swm", "install3.swm"}));
        } else {
            QCOMPARE(rig.ended->kind, StepEnd::Kind::Failed);
            const Error &error = rig.ended->error;
            const QString told = error.message + "|" + error.details;
            QVERIFY2(told.contains(expected.replace("@TMP@", v.tmpDir), Qt::CaseInsensitive),
                     qPrintable(told));
        }
    }

    // The steps that work on a thread stop when told to, inside their work:
    // nothing is left of what they would have made.
    void workersStopWhenCancelled_data()
    {
        QTest::addColumn<QString>("step");
        QTest::newRow("staging copy") << "copy";
        QTest::newRow("export") << "export";
    }
    void workersStopWhenCancelled()
    {
        QFETCH(QString, step);
        FakeVolume v;
        FakeVolume::write(v.volume + "/sources/zz-large.bin", QByteArray(64 << 20, 'x'));
        SourceCheck::Layout layout;
        WorkFolder work{v.tmpDir, v.tmpDir + "/iso-TEST01", {}, {}};
        QDir().mkpath(work.path);
        const QString exported = v.tmpDir + "/export.wim";
        std::unique_ptr<Step> worker;
        if (step == "copy")
            worker = std::make_unique<StagingCopyStep>(v.volume, layout, work);
        else
            worker = std::make_unique<ExportStep>(v.volume + "/sources/install.wim", exported);
        Rig rig;
        rig.start(*worker);
        worker->cancel();
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended.has_value(), 30000);
        QCOMPARE(rig.ended->kind, StepEnd::Kind::Stopped);
        QVERIFY(!QFileInfo::exists(work.staging + "/sources/zz-large.bin"));
        QVERIFY(!QFileInfo::exists(exported));
    }

    // The staging copy into a folder that fills up names the folder.
    void copyIntoAFullFolder()
    {
        if (::geteuid() != 0)
            QSKIP("a small tmpfs needs root");
        FakeVolume v;
        const QByteArray small = QFile::encodeName(v.tmpDir);
        QCOMPARE(::mount("tmpfs", small.constData(), "tmpfs", 0, "size=1m"), 0);
        const auto unmount = qScopeGuard([&] { ::umount2(small.constData(), MNT_DETACH); });
        SourceCheck::Layout layout;
        WorkFolder work{v.tmpDir, v.tmpDir + "/iso-TEST01", {}, {}};
        QDir().mkpath(work.path);
        StagingCopyStep copy(v.volume, layout, work);
        Rig rig;
        QCOMPARE(rig.run(copy).kind, StepEnd::Kind::Failed);
        QCOMPARE(rig.ended->error.message, "There is no space left in “" + v.tmpDir + "”.");
    }
};

QTEST_GUILESS_MAIN(TestSteps)
#include "tst_steps.moc"
