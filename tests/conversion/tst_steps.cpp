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
#include "SetupSteps.h"
#include "SplitStep.h"
#include "StagingCopyStep.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <hivex.h>
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

// A tool's standard output; empty when it failed.
static QByteArray toolOutput(const QString &tool, const QStringList &arguments)
{
    QProcess p;
    p.start(tool, arguments);
    return p.waitForFinished(60000) && p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
}

// A mounted source as the setup steps see it: sources/boot.wim shaped like a
// real one (two images, the Setup one the boot index, each with a SYSTEM hive)
// or, `withHive` false, one without the hive.
static SourceCheck::Layout setupSource(const QString &root, bool withHive = true)
{
    QDir(root).mkpath(QStringLiteral("sources"));
    SourceCheck::Layout layout;
    layout.sourcesFolder = root + QStringLiteral("/sources");
    layout.imagePath = layout.sourcesFolder + QStringLiteral("/install.wim");
    const QString wim = layout.sourcesFolder + QStringLiteral("/boot.wim");
    if (withHive) {
        toolOutput(QStringLiteral(ISOSWM_SOURCE_DIR "/scripts/make-setup-wim"), {wim});
    } else {
        QDir(root).mkpath(QStringLiteral("pe"));
        toolOutput(QStringLiteral("wimcapture"), {root + QStringLiteral("/pe"), wim});
    }
    return layout;
}

// The DWORD values of `key` ("Setup/LabConfig", "" for the root) in the hive file.
static QMap<QString, int> hiveValues(const QString &hive, const QString &key)
{
    QMap<QString, int> values;
    hive_h *h = hivex_open(QFile::encodeName(hive).constData(), 0);
    if (!h)
        return values;
    hive_node_h node = hivex_root(h);
    for (const QString &part : key.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        node = node ? hivex_node_get_child(h, node, part.toUtf8().constData()) : 0;
    hive_value_h *list = node ? hivex_node_values(h, node) : nullptr;
    for (hive_value_h *v = list; v && *v; ++v) {
        char *name = hivex_value_key(h, *v);
        values[QString::fromUtf8(name)] = hivex_value_dword(h, *v);
        free(name);
    }
    free(list);
    hivex_close(h);
    return values;
}

static StepEnd failure(const QString &why)
{
    return StepEnd::failed({why, QString()});
}

class TestSteps : public QObject {
    Q_OBJECT
private slots:
    // All options on: boot.wim's Setup image gets the four LabConfig values
    // and keeps its hive's value, its images and boot index, and verifies;
    // the answer file has the passes and components asked for, nothing else,
    // the name escaped; the staging copy takes both in place of the source's.
    void setupAdjusted()
    {
        QTemporaryDir dir;
        const QString mount = dir.filePath(QStringLiteral("mount"));
        const SourceCheck::Layout layout = setupSource(mount);
        const QByteArray before =
            toolOutput(QStringLiteral("wiminfo"), {layout.sourcesFolder + "/boot.wim"});
        SetupOptions o{true, QStringLiteral("Ana&O'Neil"), true, true, false};
        SetupPlan plan;
        Rig check, adjust;
        SetupCheckStep checkStep(o, layout, mount, plan);
        const StepEnd checked = check.run(checkStep);
        QVERIFY2(checked.kind == StepEnd::Kind::Done, qPrintable(checked.error.details));
        SetupStep step(o, QStringLiteral("sources"), dir.path(), plan);
        QCOMPARE(adjust.run(step).kind, StepEnd::Kind::Done);
        QCOMPARE(plan.replaced, QStringList{"sources/boot.wim"});
        QCOMPARE(plan.added, QStringList{"sources/$OEM$"});

        const QString edited = plan.overlay + QStringLiteral("/sources/boot.wim");
        QVERIFY(!toolOutput(QStringLiteral("wimverify"), {edited}).isEmpty());
        const QString info = QString::fromUtf8(toolOutput(QStringLiteral("wiminfo"), {edited}));
        QVERIFY(info.contains(QLatin1String("Boot Index:     2")));
        QVERIFY(QString::fromUtf8(before).contains(QLatin1String("Boot Index:     2")));
        QCOMPARE(info.count(QLatin1String("\nName:")), 2);
        const QString out = dir.filePath(QStringLiteral("hive"));
        toolOutput(QStringLiteral("wimextract"), {edited, "2", "/Windows/System32/config/SYSTEM",
                                                  "--dest-dir=" + out, "--no-acls"});
        const QMap<QString, int> lab{{"BypassCPUCheck", 1},
                                     {"BypassRAMCheck", 1},
                                     {"BypassSecureBootCheck", 1},
                                     {"BypassTPMCheck", 1}};
        QCOMPARE(hiveValues(out + "/SYSTEM", "Setup/LabConfig"), lab);
        QCOMPARE(hiveValues(out + "/SYSTEM", ""), (QMap<QString, int>{{"Marker", 7}}));

        QFile file(plan.overlay + QStringLiteral("/sources/$OEM$/$$/Panther/unattend.xml"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QStringList found, texts, open;
        while (!xml.atEnd()) {
            xml.readNext();
            if (xml.isEndElement())
                open.removeLast();
            if (xml.isCharacters() && !xml.isWhitespace())
                texts << open.last() + "=" + xml.text().toString();
            if (!xml.isStartElement())
                continue;
            open << xml.name().toString();
            const auto a = xml.attributes();
            QCOMPARE(xml.namespaceUri(), QLatin1String("urn:schemas-microsoft-com:unattend"));
            if (xml.name() == QLatin1String("settings"))
                found << a.value("pass").toString();
            if (xml.name() == QLatin1String("component")) {
                found << a.value("name").toString();
                QCOMPARE(a.value("processorArchitecture"), QLatin1String("amd64"));
                QCOMPARE(a.value("publicKeyToken"), QLatin1String("31bf3856ad364e35"));
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(found, (QStringList{"specialize", "Microsoft-Windows-Deployment", "oobeSystem",
                                     "Microsoft-Windows-Shell-Setup"}));
        const QString all = texts.join('\n');
        for (const char *expected :
             {"BypassNRO", "PreventDeviceEncryption", "ProtectYourPC=3",
              "HideOnlineAccountScreens=true", "HideEULAPage=true",
              "Name=Ana&O'Neil\nGroup=Administrators",
              "net user \"Ana&O'Neil\" /logonpasswordchg:yes", "maxpwage:unlimited"})
            QVERIFY2(all.contains(QLatin1String(expected)), expected);

        const QString staging = dir.filePath(QStringLiteral("staging"));
        QDir(staging).mkpath(QStringLiteral("sources"));
        QFile::copy(layout.sourcesFolder + "/boot.wim", staging + "/sources/boot.wim");
        const qint64 editedSize = QFileInfo(edited).size();
        QCOMPARE(SetupStep::moveInto(plan, staging), std::nullopt);
        QVERIFY(QFile::exists(staging + "/sources/$OEM$/$$/Panther/unattend.xml"));
        QCOMPARE(QFileInfo(staging + "/sources/boot.wim").size(), editedSize);
    }

    // Refused, nothing made: names Windows refuses; a source with an answer
    // file of its own; a boot.wim without the hive.
    void setupRefused()
    {
        for (const char *name : {"Administrator", "gUEST", "defaultuser0", "Ad/min", "a@b", "...",
                                 " . ", "twenty-one-characters", "tab\there", ""})
            QVERIFY2(SetupOptions::accountNameProblem(QString::fromUtf8(name)), name);
        for (const char *name : {"Ana", "Jean-Luc", "Zoë O'Brien", "twenty-characters-ok"})
            QVERIFY2(!SetupOptions::accountNameProblem(QString::fromUtf8(name)), name);

        struct Case {
            const char *made; // made in the source
            bool hive;
            SetupOptions options;
            const char *said;
        };
        const Case cases[] = {
            {"AutoUnattend.XML", true, {false, "Ana", false, false, false}, "AutoUnattend.XML"},
            {"sources/$oem$/x", true, {false, QString(), true, false, false}, "sources/$oem$"},
            {"", false, {true, QString(), false, false, false}, "Windows/System32/config/SYSTEM"}};
        for (const Case &c : cases) {
            QTemporaryDir dir;
            const SourceCheck::Layout layout = setupSource(dir.path(), c.hive);
            if (*c.made) {
                QDir(dir.path()).mkpath(QFileInfo(c.made).path());
                QFile(dir.filePath(c.made)).open(QIODevice::WriteOnly);
            }
            SetupPlan plan;
            Rig rig;
            SetupCheckStep step(c.options, layout, dir.path(), plan);
            const StepEnd end = rig.run(step);
            QCOMPARE(end.kind, StepEnd::Kind::Failed);
            QVERIFY2(end.error.details.contains(QLatin1String(c.said)),
                     qPrintable(end.error.details));
            QVERIFY(plan.files().isEmpty());
        }
    }

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

        // While the bar is held (it follows the drive), the steps between
        // measure on a meter nothing shows, and their milestones do not show.
        Rig held;
        QList<StageDetail::Stage> shown;
        QObject::connect(&held.context, &RunContext::detailChanged,
                         [&shown](const StageDetail &d) { shown << d.stage; });
        held.context.measure(StageDetail::Stage::Write, 100, {25, 96});
        held.context.holdBar(true);
        held.context.measure(StageDetail::Stage::Split, 10, {40, 60});
        held.context.meter().set(10, 10);
        held.context.reportMilestone(60);
        held.context.endMeasuring();
        held.context.holdBar(false);
        QCOMPARE(held.milestones, QList<float>());
        QCOMPARE(held.context.meter().stage(), StageDetail::Stage::Write);
        QCOMPARE(held.context.meter().done(), 0);
        QCOMPARE(shown, QList<StageDetail::Stage>({StageDetail::Stage::Write}));
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
