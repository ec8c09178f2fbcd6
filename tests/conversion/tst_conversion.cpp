#include "Harness.h"

#include <QDirIterator>
#include <QTimer>
#include <sys/stat.h>

static const QString kMountAlert =
    "alert:ISO Mounting Error|The ISO could not be mounted. Please verify that all disk images "
    "are unmounted in Disk Utility and try again";
static const QString kDoneAlert =
    "alert:ISO creation completed|The ISO has been completed successfully. Use it with Boot "
    "Camp Assistant to install Windows 10.";

static qint64 treeBytes(const QString &folder)
{
    qint64 total = 0;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        total += it.nextFileInfo().size();
    return total;
}

class TestConversion : public QObject {
    Q_OBJECT
private slots:
    // Shown once the event loop runs, never from inside the call.
    void updatesAreNeverInline()
    {
        ScriptedPrompts prompts;
        ViewController c(&prompts);
        c.updateProgressText("hello");
        c.updateProgressBarValue(42);
        QVERIFY(c.progressText().isNull());
        QCOMPARE(c.progressBarValue(), 0.0f);
        QCoreApplication::processEvents();
        QCOMPARE(c.progressText(), QString("hello"));
        QCOMPARE(c.progressBarValue(), 42.0f);
    }

    void panels()
    {
        Harness h;
        // Open panel: asks for ISO files only; a dismissed panel keeps the source.
        h.prompts.openAnswers = {QString("/isos/other.iso"), std::nullopt};
        h.controller->selectWindowsISOButtonPressed();
        QCOMPARE(h.prompts.openPanels.last().allowedFileTypes, QStringList{"iso"});
        QVERIFY(!h.prompts.openPanels.last().canChooseDirectories);
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
                              "log:Splitting install.wim", "log:removing install.wim",
                              "log:Creating ISO", "log:cleaning up", kDoneAlert, "title:Save..."}));
        // Each status is logged once; each copied item once, by its full path, not its status.
        QCOMPARE(h.count("log:Copying " + h.volume + "/sources/install.wim"), 1);
        QCOMPARE(h.count("log:copying install.wim"), 0);
        QVERIFY(h.count("log:cleaning up") == 1 && h.count("log:Creating ISO") == 1);
        QVERIFY(h.matching("error:").isEmpty());

        const QString staging = h.controller->isoTempFolder();
        QCOMPARE(staging, h.controller->tempDirectoryPath() + "/CCCOMA_X64FRE_EN-US_DV9");
        QCOMPARE(QFileInfo(h.controller->tempDirectoryPath()).path(), h.tmpDir);
        const QString sources = staging + "/sources";
        const QStringList calls = h.calls();
        QCOMPARE(calls.mid(0, 4),
                 QStringList(
                     {"hdiutil\tinfo\t-plist", "hdiutil\tattach\t" + h.source,
                      "hdiutil\tunmount\t" + h.volume,
                      "wimsplit\t" + sources + "/install.wim\t" + sources + "/install.swm\t2048"}));
        const QStringList build = calls.value(4).split('\t');
        QVERIFY(calls.size() == 5 && build.size() == 7 && build[6] == staging);
        QCOMPARE(build.mid(0, 5), QStringList({"hdiutil", "makehybrid", "-iso", "-udf", "-o"}));

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
        using S = StageDetail::Stage;
        QList<S> stages;
        for (qsizetype i = 0; i < h.details.size(); ++i) {
            const StageDetail &d = h.details[i].detail;
            const QString text = h.details[i].text; // a stage's amounts show under its name only
            if (d.stage == S::None)
                continue;
            if (stages.isEmpty() || stages.last() != d.stage)
                stages << d.stage;
            else
                QVERIFY(d.done >= h.details[i - 1].detail.done);
            if (d.stage == S::Copy)
                QVERIFY2(d.total == treeBytes(h.volume) && text.startsWith("copying "),
                         qPrintable(text));
            if (d.stage == S::Split || d.stage == S::Build)
                QCOMPARE(text, d.stage == S::Split ? "Splitting install.wim" : "Creating ISO");
            QVERIFY(i < 11 || h.details[i].ms - h.details[i - 11].ms >= 900);
        }
        // The pieces are verified while the image is built; what is left of the
        // verification shows once the build is done.
        QCOMPARE(stages.mid(0, 3), (QList<S>{S::Copy, S::Split, S::Build}));
        QVERIFY(stages.size() == 3 || stages.value(3) == S::Verify);

        // The same source converts again with one press. A file that takes the name
        // during a run is kept, and the run fails; the file that was there when the
        // panel asked is replaced.
        h.onLog = [&](const QString &line) {
            if (line == "unmounting ISO")
                FakeVolume::write(h.destination, "precious");
        };
        QFile::remove(h.destination);
        QVERIFY(h.convert());
        QCOMPARE(*h.ended, false);
        QCOMPARE(h.read(h.destination), QByteArray("precious"));
        QVERIFY(h.matching("error:").value(0).startsWith("“Win10_x64.iso-split” already exists.|"));
        QCOMPARE(h.destinationFolder(), QStringList{"Win10_x64.iso-split"});
        h.onLog = {};
        QVERIFY(h.convert());
        QCOMPARE(*h.ended, true);
        QVERIFY(h.read(h.destination) != "precious");
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
        QVERIFY(h.convert());
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
        QTest::newRow("nothing there")
            << QByteArray("/dev/disk4\tWindows\t/no/such/volume\n") << "";
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
        QVERIFY(h.convert());
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
};

QTEST_GUILESS_MAIN(TestConversion)
#include "tst_conversion.moc"
