#include "Harness.h"
#include "Leftovers.h"

#include <QDirIterator>
#include <QSignalSpy>
#include <QTimer>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

static const QString kMountAlert =
    "alert:ISO Mounting Error|The ISO could not be mounted. Please verify that all disk images "
    "are unmounted in Disk Utility and try again";
static const QString kDoneAlert =
    "alert:ISO creation completed|The ISO has been completed successfully. Use it with Boot "
    "Camp Assistant to install Windows 10.";

// True when `needles` occur in `haystack` in this order (other entries between).
static bool inOrder(const QStringList &haystack, const QStringList &needles)
{
    qsizetype at = 0;
    for (const QString &n : needles) {
        at = haystack.indexOf(n, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

static QStringList withoutRepeats(const QStringList &values)
{
    QStringList out;
    for (const QString &v : values)
        if (out.isEmpty() || out.last() != v)
            out << v;
    return out;
}

static qint64 treeBytes(const QString &folder)
{
    qint64 total = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo file(it.next());
        if (!file.isSymLink())
            total += file.size();
    }
    return total;
}

static bool isRoot()
{
    return ::geteuid() == 0;
}

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
    } else if (scenario == "corrupt while building") {
        h.touch("wimsplit.corrupt", "");
        h.touch("makehybrid.hang", "");
    } else if (scenario.contains('.'))
        h.touch(scenario, "[ERROR] it went wrong here\n");
}

class TestConversion : public QObject {
    Q_OBJECT
private slots:
    void initialStateAndUpdatesAreNeverInline()
    {
        ScriptedPrompts prompts;
        ViewController c(&prompts);
        QVERIFY(c.mainButtonTitle().isNull() && c.isoPath().isNull());
        QVERIFY(!c.splitWrapper() && !c.createISOTask());
        QVERIFY(!c.isRunning() && !c.isCancelling() && !c.isWindingDown());
        c.viewDidLoad();
        QCOMPARE(c.mainButtonTitle(), QString("Save..."));

        QStringList logged;
        Log::setEchoToStderr(false);
        Log::setSink([&](const QString &l) { logged << l; });
        c.updateProgressText("hello");
        c.updateProgressBarValue(42);
        QVERIFY(c.progressText().isNull());
        QCOMPARE(c.progressBarValue(), 0.0f);
        QCoreApplication::processEvents();
        QCOMPARE(c.progressText(), QString("hello"));
        QCOMPARE(c.progressBarValue(), 42.0f);
        QCOMPARE(logged, QStringList{"hello"}); // logged when applied, value not logged
        Log::setSink({});
    }

    void panels()
    {
        Harness h;
        // Open panel: asks for ISO files only; a dismissed panel keeps the source.
        h.prompts.openAnswers = {QString("/isos/other.iso"), std::nullopt};
        h.controller->selectWindowsISOButtonPressed();
        QCOMPARE(h.prompts.openPanels.last().message, QString("Select a Windows ISO Image:"));
        QCOMPARE(h.prompts.openPanels.last().allowedFileTypes, QStringList{"iso"});
        QVERIFY(!h.prompts.openPanels.last().canChooseDirectories);
        QCOMPARE(h.controller->isoPath(), h.source); // answers later
        QTRY_COMPARE(h.controller->isoPath(), QString("/isos/other.iso"));
        h.controller->selectWindowsISOButtonPressed();
        QTest::qWait(50);
        QCOMPARE(h.controller->isoPath(), QString("/isos/other.iso"));

        // Save panel: suggested name; dismissed, it changes nothing.
        h.controller->setIsoPath(h.source);
        h.start(std::nullopt);
        QCOMPARE(h.prompts.savePanels.last().nameFieldStringValue, QString("Win10_x64.iso-split"));
        QCOMPARE(h.prompts.savePanels.last().allowedFileTypes, QStringList{"iso"});
        QCOMPARE(h.controller->mainButtonTitle(), QString("Save..."));
        QVERIFY(!h.controller->isRunning() && h.controller->saveISOPath().isNull());
        QVERIFY(h.calls().isEmpty());

        // No source: the button does nothing at all.
        ScriptedPrompts prompts;
        ViewController bare(&prompts);
        bare.convertButtonPressed();
        QVERIFY(prompts.savePanels.isEmpty() && !bare.isRunning());
    }

    void finishedConversion()
    {
        Harness h;
        // A link to someone else's file, whose mode cleanup must not change.
        const QString outside = h.root.filePath("outside.txt");
        FakeVolume::write(outside, "keep");
        ::chmod(QFile::encodeName(outside).constData(), 0600);
        QFile::link(outside, h.volume + "/support/link");
        ::chmod(QFile::encodeName(h.volume + "/sources").constData(), 0555);
        h.start();
        QCOMPARE(h.controller->mainButtonTitle(), QString("Cancel"));
        QVERIFY(h.controller->isRunning() && !h.controller->isWindingDown());
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, true);
        QCOMPARE(h.controller->lastOutcome(), ViewController::Outcome::Succeeded);

        QCOMPARE(withoutRepeats(h.matching("value:")),
                 QStringList({"3", "5", "25", "35", "40", "80", "90", "0"}));
        const QStringList texts = h.matching("text:");
        QCOMPARE(texts.first(), QString("copying CCCOMA_X64FRE_EN-US_DV9"));
        QVERIFY(texts.contains("copying install.wim"));
        QVERIFY(inOrder(texts, {"Unmounting ISO", "Splitting install.wim", "Verifying install.swm",
                                "Creating ISO", "deleting temp files", ""}));
        const QStringList all = h.snapshot();
        QVERIFY(inOrder(all, {"log:mounting ISO", "log:Copying files", "log:unmounting ISO",
                              "log:removing install.wim", "log:cleaning up", kDoneAlert,
                              "title:Save..."}));
        // Each copied item is logged once, by its full path.
        QCOMPARE(h.count("log:Copying " + h.volume + "/sources/install.wim"), 1);
        QCOMPARE(h.count("log:copying install.wim"), 0);
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("error:").isEmpty());

        const QString staging = h.controller->isoTempFolder();
        QCOMPARE(QFileInfo(staging).path(), h.controller->tempDirectoryPath());
        QCOMPARE(QFileInfo(staging).fileName(), QString("CCCOMA_X64FRE_EN-US_DV9"));
        QCOMPARE(QFileInfo(h.controller->tempDirectoryPath()).dir().path(), h.tmpDir);
        const QString sources = staging + "/sources";
        const QStringList calls = h.calls();
        QCOMPARE(calls.size(), 5);
        QCOMPARE(calls[0], QString("hdiutil\tinfo\t-plist"));
        QCOMPARE(calls[1], "hdiutil\tattach\t" + h.source);
        QCOMPARE(calls[2], "hdiutil\tunmount\t" + h.volume);
        QCOMPARE(calls[3],
                 "wimsplit\t" + sources + "/install.wim\t" + sources + "/install.swm\t2048");
        const QStringList build = calls[4].split('\t');
        QCOMPARE(build.mid(0, 5), QStringList({"hdiutil", "makehybrid", "-iso", "-udf", "-o"}));
        QCOMPARE(build.size(), 7);
        QCOMPARE(build[6], staging);

        // Only the new image is left: the pieces replaced install.wim.
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        const QStringList listing = QString::fromUtf8(h.read(h.destination)).split('\n');
        for (const char *piece : {"install.swm", "install2.swm", "install3.swm"})
            QVERIFY2(listing.contains(QString("./sources/") + piece), piece);
        QVERIFY(!listing.contains("./sources/install.wim"));
        QVERIFY(listing.contains("./support/logging/read me.txt"));
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        struct stat info;
        QVERIFY(::stat(QFile::encodeName(outside).constData(), &info) == 0 &&
                (info.st_mode & 07777) == 0600);

        // The detail: stages in order, bytes that never go back, the copy's total
        // right, and no more than ten updates a second.
        QList<StageDetail::Stage> stages;
        for (qsizetype i = 0; i < h.details.size(); ++i) {
            const StageDetail &d = h.details[i].detail;
            if (d.stage == StageDetail::Stage::None)
                continue;
            if (stages.isEmpty() || stages.last() != d.stage)
                stages << d.stage;
            else
                QVERIFY(d.done >= h.details[i - 1].detail.done);
            if (d.stage == StageDetail::Stage::Copy)
                QCOMPARE(d.total, treeBytes(h.volume));
            QVERIFY(i < 11 || h.details[i].ms - h.details[i - 11].ms >= 900);
        }
        using S = StageDetail::Stage;
        // The pieces are verified while the image is built; what is left of the
        // verification shows once the build is done.
        QCOMPARE(stages.mid(0, 3), (QList<S>{S::Copy, S::Split, S::Build}));
        QVERIFY(stages.size() == 3 || stages.value(3) == S::Verify);

        // The same source converts again with one press.
        QFile::remove(h.destination);
        QVERIFY(h.again());
        QCOMPARE(*h.ended, true);
        QCOMPARE(h.prompts.savePanels.size(), 2);
    }

    void earlierMountsAreRemoved_data()
    {
        QTest::addColumn<QString>("images");
        QTest::addColumn<QStringList>("unmounted");
        QTest::addColumn<int>("findings");
        const QString rec = "<dict><key>image-path</key><string>%1</string>%2</dict>";
        const QString ents = "<key>system-entities</key><array>%1</array>";
        const QString ent = "<dict><key>dev-entry</key><string>/dev/x</string>"
                            "<key>mount-point</key><string>%1</string></dict>";
        const QString owner = "<key>owner-pid</key><integer>1</integer><key>owner-alive</key>%1";
        QTest::newRow("no record")
            << rec.arg("/elsewhere/a.iso", ents.arg(ent.arg("/mnt/a"))) << QStringList{} << 0;
        QTest::newRow("letter case differs")
            << rec.arg("@SOURCE_UPPER@", ents.arg(ent.arg("/mnt/one"))) << QStringList{"/mnt/one"}
            << 1;
        QTest::newRow("two records") << rec.arg("@SOURCE@", ents.arg(ent.arg("/mnt/one"))) +
                                            rec.arg("@SOURCE@", ents.arg(ent.arg("/mnt/two")))
                                     << QStringList{"/mnt/one", "/mnt/two"} << 2;
        QTest::newRow("record without entities") << rec.arg("@SOURCE@", "") << QStringList{} << 1;
        QTest::newRow("two entities, one without mount point")
            << rec.arg("@SOURCE@",
                       ents.arg(ent.arg("/mnt/one") +
                                "<dict><key>dev-entry</key><string>/dev/y</string></dict>" +
                                ent.arg("/mnt/two")))
            << QStringList{"/mnt/one", "/mnt/two"} << 1;
        QTest::newRow("same file through another path")
            << rec.arg("@SOURCE_DOTTED@", ents.arg(ent.arg("/mnt/one"))) << QStringList{} << 0;
        QTest::newRow("held by another live process")
            << rec.arg("@SOURCE@", owner.arg("<true/>") + ents.arg(ent.arg("/mnt/live")))
            << QStringList{} << 1;
        QTest::newRow("left by a process that is gone")
            << rec.arg("@SOURCE@", owner.arg("<false/>") + ents.arg(ent.arg("/mnt/stale")))
            << QStringList{"/mnt/stale"} << 1;
    }

    void earlierMountsAreRemoved()
    {
        QFETCH(QString, images);
        QFETCH(QStringList, unmounted);
        QFETCH(int, findings);
        Harness h;
        const QString dotted = QFileInfo(h.source).path() + "/./" + QFileInfo(h.source).fileName();
        images.replace("@SOURCE_UPPER@", h.source.toUpper())
            .replace("@SOURCE_DOTTED@", dotted)
            .replace("@SOURCE@", h.source);
        h.touch("info.plist",
                ("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>images</key><array>" +
                 images + "</array></dict></plist>")
                    .toUtf8());
        h.touch("diskutil.status", "3");
        h.start();
        QVERIFY(h.waitForEnd());
        QStringList diskutil;
        for (const QString &call : h.callsOf("diskutil"))
            diskutil << call.section('\t', 2);
        QCOMPARE(diskutil, unmounted);
        QCOMPARE(h.count("log:finding mount point"), findings);
        QCOMPARE(h.count("log:task exit is 3"), unmounted.size());
        // The unmounts come before the attach.
        QCOMPARE(h.calls().indexOf("hdiutil\tattach\t" + h.source), unmounted.size() + 1);
        QCOMPARE(*h.ended, true);
    }

    void mountFailures_data()
    {
        QTest::addColumn<QByteArray>("attachOutput");
        QTest::addColumn<QString>("details");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("white space after the last tab") << QByteArray("/dev/disk4\t \n") << "";
        QTest::newRow("not UTF-8") << QByteArray("/dev/disk4\t/Volumes/\xff\xfe\n") << "";
        QTest::newRow("nothing there")
            << QByteArray("/dev/disk4\tWindows\t/no/such/volume\n") << "";
        QTest::newRow("last line empty field")
            << QByteArray("/dev/disk4\t@VOLUME@\n/dev/disk4s1\t\t\n") << "";
        // The tool's own reason goes with the alert, for whoever started the app
        // from a menu and never sees its standard error.
        QTest::newRow("the tool says why")
            << QByteArray("@ERROR@") << "|hdiutil: attach failed - not a UDF image";
    }

    void mountFailures()
    {
        QFETCH(QByteArray, attachOutput);
        QFETCH(QString, details);
        Harness h;
        if (attachOutput == "@ERROR@")
            h.touch("attach.err", "\nhdiutil: attach failed - not a UDF image\n");
        h.touch("attach.out", attachOutput.replace("@VOLUME@", h.volume.toUtf8()));
        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, false);
        QCOMPARE(h.matching("alert:").size(), 1);
        QVERIFY(inOrder(h.snapshot(), {kMountAlert + details, "log:cleaning up", "title:Save..."}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("error:").isEmpty()); // no temporary folder was made: nothing to report
        QCOMPARE(withoutRepeats(h.matching("value:")), QStringList({"3", "5", "0"}));
        QVERIFY(!h.controller->isCancelling());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty() && h.destinationFolder().isEmpty());
        QVERIFY(!h.controller->splitWrapper());
    }

    // Every cheap reason not to convert is found before a byte is copied.
    void refusedBeforeTheCopy_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not a Windows image") << "no sources folder"
                                             << "no “sources” folder";
        QTest::newRow("already split") << "already split"
                                       << "is already split";
        QTest::newRow("no install.wim, no install.esd") << "no Windows image"
                                                        << "neither";
        QTest::newRow("not a WIM") << "not a WIM"
                                   << "“install.wim” isn’t a Windows image";
        QTest::newRow("destination is a folder") << "destination is a folder"
                                                 << "is a folder";
        QTest::newRow("destination is the source") << "destination is the source"
                                                   << "cannot replace";
        QTest::newRow("split tool missing") << "split tool missing"
                                            << "“wimsplit” is missing";
        QTest::newRow("no temporary folder") << "no temporary folder"
                                             << "No such file";
        QTest::newRow("small temporary folder") << "small temporary folder"
                                                << "not enough free space in “@TMP@”";
        QTest::newRow("small destination") << "small destination"
                                           << "not enough free space in “@OUT@”";
    }

    void refusedBeforeTheCopy()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, expected);
        if (scenario.startsWith("small ") && !isRoot())
            QSKIP("mounting a small tmpfs needs root");
        Harness h;
        prepare(h, scenario);
        const auto unmountTmpfs = qScopeGuard([&] {
            ::umount2(QFile::encodeName(h.tmpDir).constData(), MNT_DETACH);
            ::umount2(QFile::encodeName(h.root.filePath("out")).constData(), MNT_DETACH);
        });
        const bool oldDestination = !QFileInfo::exists(h.destination);
        if (oldDestination)
            FakeVolume::write(h.destination, "OLD");
        expected.replace("@TMP@", h.tmpDir).replace("@OUT@", h.root.filePath("out"));

        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, false);
        const QStringList errors = h.matching("error:");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(expected), qPrintable(errors.first()));
        QVERIFY(
            inOrder(h.snapshot(), {"error:" + errors.first(), "log:cleaning up", "title:Save..."}));
        QVERIFY(!h.snapshot().contains("log:Copying files"));
        // Mounted, looked at, detached: nothing else ran, nothing was made.
        QCOMPARE(h.calls(), QStringList({"hdiutil\tinfo\t-plist", "hdiutil\tattach\t" + h.source,
                                         "hdiutil\tunmount\t" + h.volume}));
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        if (oldDestination)
            QCOMPARE(h.read(h.destination), QByteArray("OLD"));
        QVERIFY(!h.controller->isCancelling() && !h.controller->isRunning());
    }

    void failuresAfterTheCopy_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("built");
        QTest::newRow("split fails") << "wimsplit.fail"
                                     << "it went wrong here" << false;
        QTest::newRow("split fails after some pieces") << "wimsplit.partfail"
                                                       << "no space left in “@TMP@”" << false;
        QTest::newRow("split leaves no pieces") << "wimsplit.nopieces"
                                                << "without writing" << false;
        QTest::newRow("piece too large for FAT32")
            << "wimsplit.bigpiece"
            << "install3.swm holds 4294967296 bytes" << false;
        QTest::newRow("pieces do not verify") << "wimsplit.corrupt"
                                              << "“install.swm”" << true;
        QTest::newRow("pieces fail while the image is built")
            << "corrupt while building" << "“install.swm”" << true;
        QTest::newRow("build fails") << "makehybrid.fail"
                                     << "it went wrong here" << true;
        QTest::newRow("sources cannot be made writable")
            << "immutable sources"
            << "“sources” couldn’t be changed" << false;
        QTest::newRow("copy fails") << "file size limit"
                                    << "zz-large.bin" << false;
    }

    void failuresAfterTheCopy()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, expected);
        QFETCH(bool, built);
        if (scenario == "immutable sources" && !isRoot())
            QSKIP("chattr needs root");
        Harness h;
        prepare(h, scenario);
        expected.replace("@TMP@", h.tmpDir);
        // An older file at the destination survives a failed conversion.
        FakeVolume::write(h.destination, "OLD");
        rlimit oldLimit;
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        if (scenario == "file size limit") {
            // Files may not grow past 3 MiB in this process: the copy of a 4 MiB
            // file fails with a real error, even for root.
            FakeVolume::write(h.volume + "/sources/zz-large.bin", QByteArray(4 << 20, 'x'));
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = oldLimit;
            limit.rlim_cur = 3 << 20;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (scenario == "immutable sources") {
            // The staging copy's sources folder is made immutable once the copy is
            // done, and writable again for cleanup.
            h.onLog = [&](const QString &line) {
                const QString sources = h.controller->isoTempFolder() + "/sources";
                if (line == "unmounting ISO")
                    QProcess::execute("chattr", {"+i", sources});
                if (line == "cleaning up")
                    QProcess::execute("chattr", {"-i", sources});
            };
        }
        h.start();
        const bool ended = h.waitForEnd();
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        QVERIFY(ended);
        QCOMPARE(*h.ended, false);
        const QStringList errors = h.matching("error:");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(expected, Qt::CaseInsensitive),
                 qPrintable(errors.first()));
        QVERIFY(
            inOrder(h.snapshot(), {"error:" + errors.first(), "log:cleaning up", "title:Save..."}));
        QVERIFY(h.matching("alert:").isEmpty()); // no completion alert
        QVERIFY(!h.controller->isCancelling() && !h.controller->isRunning());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(h.callsOf("hdiutil").filter("makehybrid").size(), built ? 1 : 0);
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        QCOMPARE(h.read(h.destination), QByteArray("OLD"));
        QCOMPARE(h.calls().filter("\tunmount\t" + h.volume).size(), 1); // never left attached
    }
    // A cancel in every stage ends the same way: one cleanup, nothing left,
    // the source detached, "Cancelling, please wait" never overwritten by an
    // item's name, and no alert.
    void cancels_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::newRow("during the mount") << "mount";
        QTest::newRow("before the first item") << "first item";
        QTest::newRow("inside a large file") << "large file";
        QTest::newRow("during the split") << "split";
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
            h.start();
            QVERIFY(h.waitForEnd() && *h.ended);
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
        } else if (stage == "first item" || stage == "second copy") {
            h.onLog = [&](const QString &line) {
                if (line == "Copying files")
                    press(); // on the main thread, before the worker asks about anything
            };
        } else if (stage == "large file") {
            h.cancelFromWorker([&](const QString &line) { return line == "Copying " + large; });
        } else {
            h.touch(stage == "split" ? "wimsplit.hang" : "makehybrid.hang");
        }
        h.start();
        const QString pidFile =
            h.fakeDir + (stage == "split" ? "/wimsplit.pid" : "/makehybrid.pid");
        if (stage == "split" || stage == "build") {
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
        h.start();
        QVERIFY(h.waitForEnd() && *h.ended);
        QCOMPARE(h.callsOf("hdiutil").filter("unmount").size(), 3);

        // Busy for good: the conversion still finishes, and cleanup detaches the
        // volume by force, saying so.
        h.touch("unmount.busy", "1000");
        QFile::remove(h.destination);
        QVERIFY(h.again() && *h.ended);
        QVERIFY(h.calls().contains("hdiutil\tunmount\t-force\t" + h.volume));
        QCOMPARE(h.matching("log:").filter("detaching it by force").size(), 1);
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

        h.start();
        QVERIFY(h.waitForEnd() && *h.ended);
        QVERIFY(!QFileInfo::exists(dead) && !QFileInfo::exists(partial));
        QCOMPARE(h.leftoverTemporaryFolders(), (QStringList{"iso-LIVE01", "iso-OTHER1"}));
        QCOMPARE(h.matching("log:removed what an earlier run left: ").size(), 1);
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
    }
};

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
