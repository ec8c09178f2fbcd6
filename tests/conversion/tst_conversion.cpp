#include "Harness.h"

#include <QSignalSpy>
#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

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

static QStringList withoutConsecutiveDuplicates(const QStringList &values)
{
    QStringList out;
    for (const QString &v : values)
        if (out.isEmpty() || out.last() != v)
            out << v;
    return out;
}

class TestConversion : public QObject {
    Q_OBJECT
private slots:
    void initialStateAndUpdatesAreNeverInline()
    {
        ScriptedPrompts prompts;
        ViewController c(&prompts);
        QVERIFY(c.mainButtonTitle().isNull());
        QVERIFY(c.isoPath().isNull());
        QVERIFY(!c.splitWrapper() && !c.createISOTask());
        QCOMPARE(c.progressBarValue(), 0.0f);
        QVERIFY(!c.isRunning() && !c.isCancelling());
        c.viewDidLoad();
        QCOMPARE(c.mainButtonTitle(), QString("Save..."));

        QStringList logged;
        Log::setEchoToStderr(false);
        Log::setSink([&](const QString &l) { logged << l; });
        c.updateProgressText("hello");
        c.updateProgressBarValue(42);
        QVERIFY(c.progressText().isNull());
        QCOMPARE(c.progressBarValue(), 0.0f);
        QVERIFY(logged.isEmpty());
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

        // Save panel: suggested name, dismissed changes nothing.
        h.controller->setIsoPath(h.source);
        h.start(std::nullopt);
        QCOMPARE(h.prompts.savePanels.size(), 1);
        QCOMPARE(h.prompts.savePanels.last().nameFieldStringValue, QString("Win10_x64.iso-split"));
        QCOMPARE(h.prompts.savePanels.last().allowedFileTypes, QStringList{"iso"});
        QCOMPARE(h.controller->mainButtonTitle(), QString("Save..."));
        QVERIFY(!h.controller->isRunning());
        QVERIFY(h.controller->saveISOPath().isNull());
        QVERIFY(h.calls().isEmpty());

        // No source: the button does nothing at all.
        ScriptedPrompts prompts;
        ViewController bare(&prompts);
        bare.convertButtonPressed();
        QVERIFY(prompts.savePanels.isEmpty());
        QVERIFY(!bare.isRunning());
    }

    void finishedConversion()
    {
        Harness h;
        h.start();
        QCOMPARE(h.controller->mainButtonTitle(), QString("Cancel"));
        QVERIFY(h.controller->isRunning());
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, true);

        QCOMPARE(withoutConsecutiveDuplicates(h.matching("value:")),
                 QStringList({"3", "5", "25", "35", "40", "80", "90", "0"}));
        const QStringList texts = h.matching("text:");
        QCOMPARE(texts.first(), QString("copying CCCOMA_X64FRE_EN-US_DV9"));
        QVERIFY(texts.contains("copying install.wim"));
        QVERIFY(inOrder(texts, {"Unmounting ISO", "Splitting install.wim", "Creating ISO",
                                "deleting temp files", ""}));
        const QStringList all = h.snapshot();
        QVERIFY(inOrder(all, {"log:mounting ISO", "log:Copying files", "log:unmounting ISO",
                              "log:removing install.wim", "log:cleaning up", kDoneAlert,
                              "title:Save..."}));
        QVERIFY(!all.contains("log:finding mount point"));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("error:").isEmpty());

        const QString staging = h.controller->isoTempFolder();
        QCOMPARE(QFileInfo(staging).path(), h.controller->tempDirectoryPath());
        QCOMPARE(QFileInfo(staging).fileName(), QString("CCCOMA_X64FRE_EN-US_DV9"));
        QCOMPARE(QFileInfo(h.controller->tempDirectoryPath()).dir().path(), h.tmpDir);
        QVERIFY(QFileInfo(h.controller->tempDirectoryPath()).fileName().startsWith("iso-"));

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
        QCOMPARE(build.value(6), staging);

        // Only the new image is left: the pieces replaced install.wim.
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        QFile out(h.destination);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QStringList listing = QString::fromUtf8(out.readAll()).split('\n');
        QVERIFY(listing.contains("./sources/install.swm"));
        QVERIFY(listing.contains("./sources/install2.swm"));
        QVERIFY(!listing.contains("./sources/install.wim"));
        QVERIFY(listing.contains("./support/logging/read me.txt"));
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QVERIFY(!h.controller->isCancelling());

        // The same source converts again with one press.
        h.ended.reset();
        QFile::remove(h.destination);
        h.start();
        QVERIFY(h.waitForEnd());
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
        for (const QString &call : h.calls())
            if (call.startsWith("diskutil\t"))
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
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("white space after the last tab") << QByteArray("/dev/disk4\t \n");
        QTest::newRow("not UTF-8") << QByteArray("/dev/disk4\t/Volumes/\xff\xfe\n");
        QTest::newRow("nothing there") << QByteArray("/dev/disk4\tWindows\t/no/such/volume\n");
        QTest::newRow("last line empty field")
            << QByteArray("/dev/disk4\t@VOLUME@\n/dev/disk4s1\t\t\n");
    }

    void mountFailures()
    {
        QFETCH(QByteArray, attachOutput);
        Harness h;
        attachOutput.replace("@VOLUME@", h.volume.toUtf8());
        h.touch("attach.out", attachOutput);
        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, false);
        QCOMPARE(h.matching("alert:").size(), 1);
        QVERIFY(inOrder(h.snapshot(), {kMountAlert, "log:cleaning up", "title:Save..."}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("error:").isEmpty()); // no temporary folder was made: nothing to report
        QCOMPARE(withoutConsecutiveDuplicates(h.matching("value:")), QStringList({"3", "5", "0"}));
        QVERIFY(!h.controller->isCancelling());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QVERIFY(h.destinationFolder().isEmpty());
        QVERIFY(!h.controller->splitWrapper());
    }

    void failuresAfterTheMount_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("expectedError");
        QTest::addColumn<bool>("splitRan");
        QTest::newRow("no sources folder") << "nosources"
                                           << "“sources”" << false;
        QTest::newRow("no install.wim") << "nowim"
                                        << "“install.wim”" << false;
        QTest::newRow("split fails")
            << "wimsplit.fail"
            << "Splitting of WIM containing solid resources is not supported" << true;
        QTest::newRow("split leaves no pieces") << "wimsplit.nopieces"
                                                << "without writing" << true;
        QTest::newRow("piece too large for FAT32") << "wimsplit.bigpiece"
                                                   << "install2.swm holds 4294967296 bytes" << true;
        QTest::newRow("build fails") << "makehybrid.fail"
                                     << "makehybrid failed - no space" << true;
        QTest::newRow("split tool missing") << "notool"
                                            << "“wimsplit” is missing" << false;
        QTest::newRow("no temporary folder") << "notmp"
                                             << "No such file or directory" << false;
    }

    void failuresAfterTheMount()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, expectedError);
        QFETCH(bool, splitRan);
        Harness h;
        if (scenario == "nosources")
            QDir(h.volume + "/sources").removeRecursively();
        else if (scenario == "nowim")
            QFile::remove(h.volume + "/sources/install.wim");
        else if (scenario == "notool")
            QFile::remove(h.resources + "/tools/bin/wimsplit");
        else if (scenario == "notmp")
            qputenv("TMPDIR", QFile::encodeName(h.root.filePath("gone")));
        else if (scenario == "wimsplit.fail")
            h.touch(scenario,
                    "[ERROR] Splitting of WIM containing solid resources is not supported\n");
        else if (scenario == "makehybrid.fail")
            h.touch(scenario, "hdiutil: makehybrid failed - no space\n");
        else
            h.touch(scenario);
        // An older file at the destination survives a failed conversion.
        Harness::writeFile(h.destination, "OLD");

        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, false);
        const QStringList errors = h.matching("error:");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(expectedError), qPrintable(errors.first()));
        QVERIFY(
            inOrder(h.snapshot(), {"error:" + errors.first(), "log:cleaning up", "title:Save..."}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("alert:").isEmpty()); // no completion alert
        QVERIFY(!h.controller->isCancelling());
        QVERIFY(!h.controller->isRunning());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());

        bool wimsplitCalled = false, buildCalled = false;
        for (const QString &call : h.calls()) {
            wimsplitCalled |= call.startsWith("wimsplit");
            buildCalled |= call.startsWith("hdiutil\tmakehybrid");
        }
        QCOMPARE(wimsplitCalled, splitRan);
        QCOMPARE(buildCalled, scenario == "makehybrid.fail");
        QVERIFY(!h.snapshot().contains("log:removing install.wim") ||
                scenario == "makehybrid.fail");
        if (!splitRan)
            QVERIFY(!h.controller->splitWrapper());

        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        QFile old(h.destination);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("OLD"));
    }

    void copyErrorIsShownBeforeCleanup()
    {
        Harness h;
        // Files may not grow past 1 MiB in this process: the copy of a 2 MiB file
        // fails with a real error, even for root.
        Harness::writeFile(h.volume + "/sources/zz-large.bin", QByteArray(2 * 1024 * 1024, 'x'));
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit old;
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit limit = old;
        limit.rlim_cur = 1024 * 1024;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        h.start();
        const bool ended = h.waitForEnd();
        ::setrlimit(RLIMIT_FSIZE, &old);
        QVERIFY(ended);
        QCOMPARE(*h.ended, false);
        const QStringList errors = h.matching("error:");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains("zz-large.bin"), qPrintable(errors.first()));
        QVERIFY(inOrder(h.snapshot(), {"error:" + errors.first(), "log:cleaning up"}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        // No split; the source is not left attached.
        QCOMPARE(h.calls(), QStringList({"hdiutil\tinfo\t-plist", "hdiutil\tattach\t" + h.source,
                                         "hdiutil\tunmount\t" + h.volume}));
    }

    void cancelBeforeTheFirstItem()
    {
        Harness h;
        // The cancel lands before the copy thread asks about anything.
        h.onLog = [&](const QString &line) {
            if (line == "Copying files")
                h.controller->convertButtonPressed();
        };
        h.start();
        QVERIFY(h.waitForEnd());
        h.onLog = {};
        QCOMPARE(*h.ended, false);
        // The top folder was asked about and refused: nothing copied, no alert.
        QCOMPARE(h.matching("log:Copying /").size(), 1);
        QVERIFY(h.matching("error:").isEmpty());
        QVERIFY(h.matching("alert:").isEmpty());
        QCOMPARE(h.count("log:cleaning up"), 1);
        QCOMPARE(h.count("log:cancelling"), 1);
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(h.calls().size(), 3);
        QCOMPARE(h.calls().last(), "hdiutil\tunmount\t" + h.volume);
    }

    void cancelInTheMiddleOfTheCopy()
    {
        Harness h;
        for (int i = 0; i < 200; ++i)
            Harness::writeFile(
                QString("%1/sources/sxs/f%2/item%3.cab").arg(h.volume).arg(i / 10).arg(i), "cab");
        std::atomic<int> asked{0};
        const auto cleanupDuringCopy =
            h.cancelFromCopyThread([&](const QString &) { return ++asked == 20; });
        h.start();
        QVERIFY(h.waitForEnd());
        h.onLog = {};
        QVERIFY(!*cleanupDuringCopy);
        QVERIFY(asked > 20);
        QVERIFY(asked < 100); // refused folders are not descended into
        QVERIFY(inOrder(h.snapshot(),
                        {"log:cancelling", "text:Cancelling, please wait", "log:cleaning up",
                         "text:deleting temp files", "text:", "title:Save..."}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("error:").isEmpty());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(h.calls().size(), 3);
        QCOMPARE(h.calls().last(), "hdiutil\tunmount\t" + h.volume);

        // While it wound down the button started nothing.
        QCOMPARE(h.prompts.savePanels.size(), 1);
    }

    void cancelDuringTheSplit()
    {
        Harness h;
        h.touch("wimsplit.hang");
        h.start();
        QTRY_VERIFY(Harness::pidAlive(h.fakeDir + "/wimsplit.pid"));
        QVERIFY(h.controller->isRunning());
        h.controller->convertButtonPressed();
        // The split's child is gone and cleanup has run inside the cancel.
        QVERIFY(!Harness::pidAlive(h.fakeDir + "/wimsplit.pid"));
        QVERIFY(!h.controller->isRunning());
        QVERIFY(inOrder(h.snapshot(), {"log:cleaning up", "log:cancelling"}));
        QCOMPARE(h.controller->mainButtonTitle(), QString("Cancel"));

        // A press before the stop has wound down starts nothing.
        h.controller->convertButtonPressed();
        QCOMPARE(h.prompts.savePanels.size(), 1);

        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, false);
        QVERIFY(
            inOrder(h.matching("text:"), {"Cancelling, please wait", "deleting temp files", ""}));
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(!h.snapshot().contains("log:removing install.wim"));
        QVERIFY(h.matching("alert:").isEmpty() && h.matching("error:").isEmpty());
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
        for (const QString &call : h.calls())
            QVERIFY(!call.startsWith("hdiutil\tmakehybrid"));

        // Once wound down, the button starts a new conversion again.
        QFile::remove(h.fakeDir + "/wimsplit.hang");
        h.ended.reset();
        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, true);
    }

    void cancelDuringTheBuildKeepsTheOldDestination()
    {
        Harness h;
        Harness::writeFile(h.destination, "OLD");
        h.touch("makehybrid.hang");
        bool buildGoneAtCleanup = false;
        h.onLog = [&](const QString &line) {
            if (line == "cleaning up")
                buildGoneAtCleanup = !Harness::pidAlive(h.fakeDir + "/makehybrid.pid");
        };
        h.start();
        QTRY_VERIFY(Harness::pidAlive(h.fakeDir + "/makehybrid.pid"));
        h.controller->convertButtonPressed();
        QVERIFY(h.waitForEnd());
        h.onLog = {};
        QVERIFY(buildGoneAtCleanup);
        QCOMPARE(h.count("log:cleaning up"), 1);
        QVERIFY(h.matching("alert:").isEmpty());
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        QFile old(h.destination);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("OLD"));
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
    }

    void cancelDuringTheCopyOfASecondConversion()
    {
        Harness h;
        h.start();
        QVERIFY(h.waitForEnd());
        QCOMPARE(*h.ended, true);
        QPointer<QNTaskWrapperWithBlocks> oldSplit = h.controller->splitWrapper();
        QPointer<QNTaskWrapperWithBlocks> oldBuild = h.controller->createISOTask();
        QVERIFY(oldSplit && oldBuild);
        QSignalSpy oldSplitDestroyed(oldSplit.data(), &QObject::destroyed);

        h.ended.reset();
        QFile::remove(h.destination);
        const int cleanupsBefore = h.count("log:cleaning up");
        std::atomic<bool> cancelled{false};
        const auto cleanupDuringCopy =
            h.cancelFromCopyThread([&](const QString &) { return !cancelled.exchange(true); });
        h.start();
        QVERIFY(h.waitForEnd());
        h.onLog = {};
        QCOMPARE(*h.ended, false);
        QVERIFY(!*cleanupDuringCopy);
        // One cleanup for the stopped conversion; the earlier runners were not
        // stopped again and are still the controller's.
        QCOMPARE(h.count("log:cleaning up") - cleanupsBefore, 1);
        QCOMPARE(h.controller->splitWrapper(), oldSplit.data());
        QCOMPARE(h.controller->createISOTask(), oldBuild.data());
        QCOMPARE(oldSplitDestroyed.count(), 0);
        QVERIFY(h.leftoverTemporaryFolders().isEmpty());
    }

    void cleanupOnItsOwn()
    {
        Harness h;
        // A temporary folder full of read-only entries and a link to a file of
        // someone else's, whose mode must not change.
        const QString temp = h.tmpDir + "/iso-TEST01";
        const QString staging = temp + "/VOLUME";
        Harness::writeFile(staging + "/sources/install.swm", "piece");
        Harness::writeFile(staging + "/boot/bcd", "bcd");
        const QString outside = h.root.filePath("outside.txt");
        Harness::writeFile(outside, "keep");
        QFile::setPermissions(outside, QFile::ReadOwner | QFile::WriteOwner);
        QFile::link(outside, staging + "/link");
        for (const QString &f : {staging + "/sources/install.swm", staging + "/boot/bcd"})
            ::chmod(QFile::encodeName(f).constData(), 0444);
        for (const QString &d : {staging + "/sources", staging + "/boot", staging})
            ::chmod(QFile::encodeName(d).constData(), 0555);
        h.controller->setTempDirectoryPath(temp);
        h.controller->setIsoTempFolder(staging);
        QCoreApplication::processEvents();
        h.events.clear();

        h.controller->cleanup();
        QVERIFY(!QFileInfo::exists(temp));
        QVERIFY(h.snapshot().filter("title:").isEmpty()); // handed back later
        QTRY_COMPARE(h.count("title:Save..."), 1);
        QStringList applied;
        for (const QString &e : h.snapshot())
            if (!e.startsWith("log:"))
                applied << e;
        QCOMPARE(applied,
                 QStringList({"text:deleting temp files", "value:0", "text:", "title:Save..."}));
        QVERIFY(inOrder(h.snapshot(), {"log:cleaning up", "log:deleting temp files at " + temp}));
        QVERIFY(QFileInfo::exists(outside));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(outside).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));

        // Again, and with a temporary folder but no staging folder: nothing to
        // report for what is simply not there.
        h.controller->cleanup();
        QDir().mkpath(temp);
        h.controller->cleanup();
        QVERIFY(!QFileInfo::exists(temp));
        QTest::qWait(20);
        QVERIFY(h.matching("error:").isEmpty());
        QVERIFY(!h.controller->isCancelling());
    }
};

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
