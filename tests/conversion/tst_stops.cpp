// How a conversion ends when it does not succeed: refused before the copy,
// failed after it, cancelled in any stage, or held up by a busy volume; and
// what runs that died earlier left behind.

#include "Harness.h"
#include "Leftovers.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTimer>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Ways to spoil a fake volume or its surroundings, by name, for the tables.
static void prepare(Harness &h, const QString &scenario)
{
    const QString sources = h.volume + "/sources";
    if (scenario == "no sources folder")
        QDir(sources).removeRecursively();
    else if (scenario == "already split")
        QFile::rename(sources + "/install.wim", sources + "/install.swm");
    else if (scenario == "no Windows image")
        QFile::remove(sources + "/install.wim");
    else if (scenario == "not a WIM")
        FakeVolume::write(sources + "/install.wim", QByteArray(4096, 'w'));
    else if (scenario == "destination is a folder")
        QDir().mkpath(h.destination);
    else if (scenario == "destination is the source")
        h.destination = h.source;
    else if (scenario == "split tool missing")
        QFile::remove(h.resources + "/tools/bin/wimsplit");
    else if (scenario == "no temporary folder")
        qputenv("TMPDIR", QFile::encodeName(h.root.filePath("gone")));
    else if (scenario.startsWith("small ")) {
        // 16 MiB of tmpfs is less than any conversion's margin.
        const QByteArray folder = QFile::encodeName(
            scenario.endsWith("temporary folder") ? h.tmpDir : h.root.filePath("out"));
        QCOMPARE(::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=16m"), 0);
    } else if (scenario == "file size limit") {
        // Files may not grow past 3 MiB in this process: the copy of a 4 MiB
        // file fails with a real error, even for root.
        FakeVolume::write(h.volume + "/sources/zz-large.bin", QByteArray(4 << 20, 'x'));
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit;
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 3 << 20;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    } else if (scenario == "immutable sources") {
        // The staging copy's sources folder is made immutable once the copy is
        // done, and writable again for cleanup.
        h.onLog = [&h](const QString &line) {
            const QString sources = h.controller->isoTempFolder() + "/sources";
            if (line == "unmounting ISO")
                QProcess::execute("chattr", {"+i", sources});
            if (line == "cleaning up")
                QProcess::execute("chattr", {"-i", sources});
        };
    } else if (scenario == "corrupt while building") {
        h.touch("wimsplit.corrupt", "");
        h.touch("makehybrid.hang", "");
    } else if (scenario.contains('.'))
        h.touch(scenario, "[ERROR] it went wrong here\n");
}

class TestStops : public QObject {
    Q_OBJECT
private slots:
    // Every cheap reason not to convert is found before a byte is copied
    // (copied: false); the rest fail after the copy, some after the build.
    void failures_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("copied");
        QTest::addColumn<bool>("built");
        const auto before = [](const char *tag, const char *scenario, const char *expected) {
            QTest::newRow(tag) << scenario << expected << false << false;
        };
        const auto after = [](const char *tag, const char *scenario, const char *expected,
                              bool built) {
            QTest::newRow(tag) << scenario << expected << true << built;
        };
        before("not a Windows image", "no sources folder", "no “sources” folder");
        before("already split", "already split", "is already split");
        before("no install.wim, no install.esd", "no Windows image", "neither");
        before("not a WIM", "not a WIM", "“install.wim” isn’t a Windows image");
        before("destination is a folder", "destination is a folder", "is a folder");
        before("destination is the source", "destination is the source", "cannot replace");
        before("split tool missing", "split tool missing", "“wimsplit” is missing");
        before("no temporary folder", "no temporary folder", "No such file");
        before("small temporary folder", "small temporary folder",
               "not enough free space in “@TMP@”");
        before("small destination", "small destination", "not enough free space in “@OUT@”");
        after("pieces fail while the image is built", "corrupt while building", "“install.swm”",
              true);
        after("build fails", "makehybrid.fail", "it went wrong here", true);
        after("sources cannot be made writable", "immutable sources",
              "“sources” couldn’t be changed", false);
        after("copy fails", "file size limit", "zz-large.bin", false);
    }
    void failures()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, expected);
        QFETCH(bool, copied);
        QFETCH(bool, built);
        if ((scenario.startsWith("small ") || scenario == "immutable sources") && ::geteuid() != 0)
            QSKIP("a small tmpfs and chattr need root");
        Harness h;
        rlimit oldLimit;
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        prepare(h, scenario);
        const auto unmountTmpfs = qScopeGuard([&] {
            ::umount2(QFile::encodeName(h.tmpDir).constData(), MNT_DETACH);
            ::umount2(QFile::encodeName(h.root.filePath("out")).constData(), MNT_DETACH);
        });
        expected.replace("@TMP@", h.tmpDir).replace("@OUT@", h.root.filePath("out"));
        // An older file at the destination survives a failed conversion.
        const bool oldDestination = !QFileInfo::exists(h.destination);
        if (oldDestination)
            FakeVolume::write(h.destination, "OLD");
        const bool ended = h.convert();
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        QVERIFY(ended);
        QCOMPARE(*h.ended, false);
        // A temporary folder short of room offers one that has it: declined here.
        const QStringList errors = h.prompts.alerts.filter(QRegularExpression("^(error|choice):"));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(expected, Qt::CaseInsensitive),
                 qPrintable(errors.first()));
        QVERIFY(inOrder(h.snapshot(), {errors.first(), "log:cleaning up", "title:Save..."}));
        QVERIFY(h.matching("alert:").isEmpty()); // no completion alert
        QVERIFY(h.barNeverWentBack());
        QVERIFY(!h.controller->isCancelling() && !h.controller->isRunning());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        if (oldDestination)
            QCOMPARE(h.read(h.destination), QByteArray("OLD"));
        QCOMPARE(h.calls().filter("\tunmount\t" + h.volume).size(), 1); // never left attached
        if (!copied) {
            // Mounted, looked at, detached: nothing else ran, nothing was made.
            QVERIFY(!h.snapshot().contains("log:Copying files"));
            QCOMPARE(h.calls(),
                     QStringList({"hdiutil\tinfo\t-plist", "hdiutil\tattach\t" + h.source,
                                  "hdiutil\tunmount\t" + h.volume}));
            return;
        }
        // The pieces are verified beside the build, which may not have begun.
        const qsizetype builds = h.callsOf("hdiutil").filter("makehybrid").size();
        if (scenario.contains("corrupt"))
            QVERIFY(builds <= 1);
        else
            QCOMPARE(builds, built ? 1 : 0);
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
    }

    // A cancel in every stage ends the same way: one cleanup, nothing left,
    // the source detached, "Cancelling, please wait" never overwritten by an
    // item's name, and no alert.
    void cancels_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("during the mount") << "mount";
        QTest::newRow("inside a large file") << "large file";
        QTest::newRow("during the build") << "build";
        QTest::newRow("during a second conversion's copy") << "second copy";
    }

    void cancels()
    {
        QFETCH(QString, stage);
        Harness h;
        const QString large = h.volume + "/sources/zz-large.bin";
        if (stage == "large file")
            FakeVolume::write(large, QByteArray(64 << 20, 'x'));
        QPointer<QNTaskWrapperWithBlocks> oldSplit, oldBuild;
        if (stage == "second copy") {
            QVERIFY(h.convert() && *h.ended);
            oldSplit = h.controller->splitWrapper();
            oldBuild = h.controller->createISOTask();
            QFile::remove(h.destination);
            h.ended.reset();
        }
        FakeVolume::write(h.destination, "OLD");
        const int cleanupsBefore = h.count("log:cleaning up");
        const qsizetype callsBefore = h.calls().size();
        const auto press = [&] { h.controller->convertButtonPressed(); };
        if (stage == "mount") {
            h.touch("attach.delay", "1");
            h.onLog = [&](const QString &line) {
                if (line == "mounting ISO")
                    QTimer::singleShot(100, h.controller.get(), press);
            };
        } else if (stage == "second copy") {
            h.onLog = [&](const QString &line) {
                if (line == "Copying files")
                    press(); // on the main thread, before the worker asks about anything
            };
        } else if (stage == "large file") {
            h.onLog = [&](const QString &line) { // on the worker, which waits for the press
                if (line == "Copying " + large)
                    QMetaObject::invokeMethod(h.controller.get(), press,
                                              Qt::BlockingQueuedConnection);
            };
        } else {
            h.touch("makehybrid.hang");
        }
        h.start();
        const QString pidFile = h.fakeDir + "/makehybrid.pid";
        if (stage == "build") {
            QTRY_VERIFY(processInPidFileAlive(pidFile));
            press();
            // The tool is gone, and cleanup has begun inside the cancel.
            QVERIFY(!processInPidFileAlive(pidFile));
            QVERIFY(inOrder(h.snapshot(), {"log:cleaning up", "log:cancelling"}));
            QVERIFY(h.controller->isWindingDown());
            press(); // a press while it winds down starts nothing
        }
        QVERIFY(h.waitForEnd());
        h.onLog = {};
        QCOMPARE(*h.ended, false);
        QCOMPARE(h.controller->lastOutcome(), ViewController::Outcome::Cancelled);
        const QStringList texts = h.matching("text:");
        const qsizetype cancelling = texts.lastIndexOf("Cancelling, please wait");
        QVERIFY(cancelling >= 0);
        QCOMPARE(texts.mid(cancelling + 1), QStringList({"deleting temp files", ""}));
        QVERIFY(h.barNeverWentBack());
        QCOMPARE(h.count("log:cleaning up") - cleanupsBefore, 1);
        QCOMPARE(h.count("log:cancelling"), 1);
        QVERIFY(h.matching("error:").isEmpty() &&
                h.matching("alert:").filter("Mounting").isEmpty());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        QCOMPARE(h.read(h.destination), QByteArray("OLD"));
        // Detached once, after the attach.
        const QStringList calls = h.calls().mid(callsBefore);
        QCOMPARE(calls.filter("hdiutil\tunmount\t" + h.volume).size(), 1);
        QVERIFY(calls.indexOf("hdiutil\tunmount\t" + h.volume) > 1);
        QCOMPARE(h.prompts.savePanels.size(), stage == "second copy" ? 2 : 1);
        if (stage == "large file") // stopped inside the file: nothing after it was asked about
            QCOMPARE(h.matching("log:Copying ").last(), large);
        if (stage == "second copy") {
            // The earlier conversion's runners were not stopped again and are
            // still the controller's.
            QVERIFY(oldSplit && oldBuild);
            QCOMPARE(h.controller->splitWrapper(), oldSplit.data());
            QCOMPARE(h.controller->createISOTask(), oldBuild.data());
        }
    }

    void busyUnmountIsRetriedThenForced()
    {
        Harness h;
        // Busy for a moment after the copy: tried again, and the conversion goes on.
        h.touch("unmount.busy", "2");
        QVERIFY(h.convert() && *h.ended);
        QCOMPARE(h.callsOf("hdiutil").filter("unmount").size(), 3);

        // Busy for good: the conversion still finishes, and cleanup detaches the
        // volume by force, saying so.
        h.touch("unmount.busy", "1000");
        QFile::remove(h.destination);
        QVERIFY(h.convert() && *h.ended);
        QVERIFY(h.calls().contains("hdiutil\tunmount\t-force\t" + h.volume));
        QCOMPARE(h.matching("log:").filter("detaching it by force").size(), 1);
    }

    // A temporary folder short of room names the way on: another folder of
    // the user's that has it, and how to choose one. Taken for this run, the
    // conversion goes through there and leaves nothing in either folder.
    void anotherTemporaryFolderForThisRun()
    {
        if (::geteuid() != 0)
            QSKIP("a small tmpfs needs root");
        Harness h;
        const QByteArray small = QFile::encodeName(h.tmpDir);
        QCOMPARE(::mount("tmpfs", small.constData(), "tmpfs", 0, "size=16m"), 0);
        const auto unmount = qScopeGuard([&] { ::umount2(small.constData(), MNT_DETACH); });
        h.prompts.choiceAnswers = {true};
        QVERIFY(h.convert() && *h.ended);
        const QString out = h.root.filePath("out");
        const QStringList choices = h.matching("choice:");
        QCOMPARE(choices.size(), 1);
        for (const QString &said :
             {"not enough free space in “" + h.tmpDir + "”", "“" + out + "” has the room",
              QString("--temporary-folder"), QString("TMPDIR"), "Use “" + out + "”"})
            QVERIFY2(choices.first().contains(said), qPrintable(choices.first()));
        QVERIFY(h.snapshot().contains("log:temporary files go to " + out + " for this run"));
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
    }

    void leftoversOfDeadRunsAreRemoved()
    {
        Harness h;
        // A run that died mid-build: its temporary directory names its partial output.
        const QString dead = h.tmpDir + "/iso-DEAD01";
        const QString partial = h.destination + ".isoswm-AbC123.part";
        FakeVolume::write(partial + "/Win10_x64.iso-split", "half an image");
        FakeVolume::write(dead + "/CCCOMA/sources/install.swm", "piece");
        FakeVolume::write(dead + "/" + RunMarker::kFileName, QFile::encodeName(partial) + "\n");
        ::chmod(QFile::encodeName(dead + "/CCCOMA").constData(), 0555);
        // A run that lives (its marker is held) and a folder that is not ours to judge.
        const QString live = h.tmpDir + "/iso-LIVE01", foreign = h.tmpDir + "/iso-OTHER1";
        RunMarker holder;
        QDir().mkpath(live);
        QVERIFY(holder.create(live));
        QDir().mkpath(foreign);

        // A killed run's directory in a folder a run once chose, and one in
        // /var/tmp, where runs go by default.
        const QString chosen = h.root.filePath("chosen"), elsewhere = chosen + "/iso-DEAD02";
        FakeVolume::write(elsewhere + "/" + RunMarker::kFileName, "");
        FakeVolume::write(qEnvironmentVariable("XDG_STATE_HOME") + "/isoswm/temporary-folders",
                          QFile::encodeName(chosen) + "\n");
        QTemporaryDir varTmp("/var/tmp/iso-XXXXXX");
        FakeVolume::write(varTmp.filePath(RunMarker::kFileName), "");

        QVERIFY(h.convert() && *h.ended);
        QVERIFY(!QFileInfo::exists(dead) && !QFileInfo::exists(partial));
        QVERIFY(!QFileInfo::exists(elsewhere) && !QFileInfo::exists(varTmp.path()));
        QCOMPARE(h.leftoverTemporaryFolders(), (QStringList{"iso-LIVE01", "iso-OTHER1"}));
        QCOMPARE(h.matching("log:removed what an earlier run left: ").size(), 1);
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
    }
};

QTEST_GUILESS_MAIN(TestStops)
#include "tst_stops.moc"
