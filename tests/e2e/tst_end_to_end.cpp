// Real conversions with isoswm-cli, the Linux disk tools, wimlib and FUSE, of
// images made by scripts/make-sample-iso.

#include "BootReport.h"
#include "E2eSupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace E2e;

namespace {

const QString kLabel = QStringLiteral("CCCOMA_X64FRE_EN-US_DV9");

} // namespace

class TestEndToEnd : public QObject, public Workspace {
    Q_OBJECT
    QString m_sample, m_converted;
    QStringList m_processesBefore;

    // Nothing of a run is left: no temporary files, no mount, no process.
    void verifyNothingLeft(const QString &tmp, const QString &out)
    {
        QVERIFY2(entries(tmp).isEmpty(), qPrintable(entries(tmp).join(' ')));
        QCOMPARE(entries(out).filter(".part"), QStringList());
        QCOMPARE(ourMounts(), QStringList());
        QTRY_COMPARE_WITH_TIMEOUT(ourProcesses(), m_processesBefore, 5000);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_processesBefore = ourProcesses();
        // Over 2048 MiB, so that the WIM is cut in two; smaller for a quick run.
        const QString mib = qEnvironmentVariable("ISOSWM_E2E_SAMPLE_MIB", "2100");
        m_sample = makeSample("Win10 Sample x64.iso", {"--wim-mib", mib});
        QVERIFY(QFile::exists(m_sample));
    }

    // On a terminal: one line redrawn in place with stage, percent, bar, bytes,
    // rate and time left; the verbose log above it, never glued onto it.
    void convertsALargeImage()
    {
        const QString tmp = freshFolder("tmp-convert");
        m_converted = work("Win10 Sample x64-split.iso");
        const QString command = QString("stty cols 160; \"%1\" --verbose \"%2\" \"%3\"")
                                    .arg(kCli, m_sample, m_converted);
        const Ran converted = run("script", {"-qfec", command, "/dev/null"}, tmp);
        QVERIFY2(converted.code == 0, converted.out.right(3000).constData());
        const QString shown = QString::fromUtf8(converted.out);
        // The stage first, then the figures, which a narrow terminal shortens;
        // every stage that moves bytes has a rate and a time left, once it has
        // gone on long enough to tell (the unprivileged run's sample is small).
        const bool lasting = QFileInfo(m_sample).size() > (2000LL << 20);
        for (const QString stage : {"copying install.wim", "Splitting install.wim", "Creating ISO"})
            QVERIFY2(shown.contains(QRegularExpression(
                         "\r" + stage +
                         " +\\d+% \\[#*-*\\]  [0-9.]+ [kMG]B of [0-9.]+ [MG]B( · [0-9.]+ " +
                         "[kMG]B/s · about \\d+ (s|min) left)" + (lasting ? "" : "?") + "\x1b")),
                     qPrintable(stage));
        for (const QString logLine : {"mounting ISO", "Copying files", "removing install.wim"})
            QVERIFY2(shown.contains("\r\x1b[K" + logLine + "\r\n"), qPrintable(logLine));
        verifyNothingLeft(tmp, m_work.path());

        const Mounted mounted({m_sample, m_converted});
        const QString before = mounted[0], after = mounted[1];
        QVERIFY(!before.isEmpty() && !after.isEmpty());
        // The label is kept: the new image mounts under the same volume name.
        QVERIFY2(QFileInfo(after).fileName().startsWith(kLabel), qPrintable(after));
        const QString sources = after + "/sources";
        QVERIFY(!QFile::exists(sources + "/install.wim"));
        const bool twoPieces = QFileInfo(before + "/sources/install.wim").size() > (2048LL << 20);
        const QStringList pieces =
            twoPieces ? QStringList{"install.swm", "install2.swm"} : QStringList{"install.swm"};
        QCOMPARE(QDir(sources).entryList({"install*.swm"}), pieces);
        for (const QString &piece : QDir(sources).entryList({"install*.swm"}))
            QVERIFY(QFileInfo(sources + "/" + piece).size() < (qint64(4) << 30));
        const Ran verified =
            run("wimverify", {sources + "/install.swm", "--ref=" + sources + "/install*.swm"});
        QVERIFY2(verified.code == 0, (verified.out + verified.err).constData());
        // Everything else is byte for byte what the source holds.
        QCOMPARE(diffTrees(before, after, {"install.wim", "install*.swm"}), QString());
        QCOMPARE(editionsOf(sources + "/install.swm", {"--ref=" + sources + "/install*.swm"}),
                 editionsOf(before + "/sources/install.wim"));
    }

    // Without a staging copy: the same image, and in plain lines one line a
    // stage, each naming it.
    void directPathGivesTheSameImage()
    {
        QVERIFY(QFile::exists(m_converted));
        const QString tmp = freshFolder("tmp-direct");
        const QString out = work("direct.iso");
        QProcess p;
        p.setProcessEnvironment(environment(tmp));
        p.start(kCli, {"--direct", m_sample, out});
        QVERIFY(p.waitForFinished(600000));
        QCOMPARE(p.exitCode(), 0);
        const QString lines = QString::fromUtf8(p.readAllStandardOutput());
        for (const char *stage :
             {"\nSplitting install.wim  ", "\nCreating ISO  ", "\nDone  100%\n"})
            QVERIFY2(lines.count(stage) == 1, qPrintable(lines));
        verifyNothingLeft(tmp, m_work.path());
        const Mounted mounted({m_converted, out});
        // Each split set gets a GUID of its own; the rest is the same.
        QCOMPARE(diffTrees(mounted[0], mounted[1], {"install*.swm"}), QString());
        const QString a = mounted[0] + "/sources/", b = mounted[1] + "/sources/";
        for (const QString &piece : QDir(a).entryList({"install*.swm"}))
            QCOMPARE(QFileInfo(b + piece).size(), QFileInfo(a + piece).size());
        QCOMPARE(editionsOf(b + "install.swm", {"--ref=" + b + "install*.swm"}),
                 editionsOf(a + "install.swm", {"--ref=" + a + "install*.swm"}));
    }

    // A desktop whose /tmp is a small tmpfs, TMPDIR unset: the large files go
    // to /var/tmp, and nothing of the run stays there. The new /tmp hides what
    // lay below the old one (the test's folders, perhaps the build), so that
    // is reached through /mnt, and the runtime folder is made in the new /tmp.
    void aSmallTmpInMemoryIsNoObstacle()
    {
        if (::geteuid() != 0)
            QSKIP("a private mount namespace takes root");
        const auto runs = [] {
            return QDir("/var/tmp").entryList({"iso-??????"}, QDir::Dirs | QDir::Hidden);
        };
        const auto seen = [](const QString &path) {
            return path.startsWith("/tmp/") ? "/mnt/" + path.mid(5) : path;
        };
        const QStringList before = runs();
        const qint64 half = std::max<qint64>(QFileInfo(m_sample).size() >> 21, 16);
        const QString script = "mount --make-rprivate / && mount --bind /tmp /mnt && "
                               "mount -t tmpfs -o size=" +
                               QString::number(half) +
                               "m tmpfs /tmp && mkdir -m 0700 /tmp/runtime && "
                               "XDG_RUNTIME_DIR=/tmp/runtime exec env -u TMPDIR \"$@\"";
        const QString out = work("small-tmp.iso");
        QFile::remove(out);
        const Ran ran =
            run("unshare", {"-m", "sh", "-c", script, "sh", seen(kCli), seen(m_sample), seen(out)});
        QVERIFY2(ran.code == 0, (ran.out + ran.err).right(2000).constData());
        QVERIFY(QFileInfo(out).size() > 0);
        QCOMPARE(runs(), before);
        QFile::remove(out);
    }

    // The Windows Setup options on the new image: boot.wim's Setup image gets
    // LabConfig and still verifies with its boot index, the answer file holds
    // the account, and the split set verifies; without them boot.wim is the
    // source's, byte for byte, and no $OEM$ appears. A refused name writes nothing.
    void setupOptionsAdjustTheNewImage()
    {
        QVERIFY(QFile::exists(m_converted));
        const QString tmp = freshFolder("tmp-setup");
        const QString out = work("setup.iso");
        const Ran refused = run(kCli, {"--local-account", "Ad/min", m_sample, out}, tmp);
        QCOMPARE(refused.code, 2);
        QVERIFY(!QFile::exists(out));
        const Ran made = run(kCli,
                             {"--skip-hardware-checks", "--local-account", "Ana",
                              "--skip-privacy-questions", m_sample, out},
                             tmp);
        QVERIFY2(made.code == 0, made.err.constData());
        verifyNothingLeft(tmp, m_work.path());
        const Mounted mounted({m_sample, m_converted, out});
        const QString source = mounted[0] + "/sources/", plain = mounted[1] + "/sources/",
                      adjusted = mounted[2] + "/sources/";
        QCOMPARE(run("cmp", {source + "boot.wim", plain + "boot.wim"}).code, 0);
        QVERIFY(!QFile::exists(plain + "$OEM$"));
        QCOMPARE(run("wimverify", {adjusted + "boot.wim"}).code, 0);
        QVERIFY(run("wiminfo", {adjusted + "boot.wim"}).out.contains("Boot Index:     2"));
        const Ran hive = run("wimextract", {adjusted + "boot.wim", "2",
                                            "/Windows/System32/config/SYSTEM", "--to-stdout"});
        for (const char *name : {"LabConfig", "BypassTPMCheck", "BypassCPUCheck", "Marker"})
            QVERIFY2(hive.out.contains(name), name);
        QCOMPARE(
            run("wimverify", {adjusted + "install.swm", "--ref=" + adjusted + "install*.swm"}).code,
            0);
        QFile answers(adjusted + "$OEM$/$$/Panther/unattend.xml");
        QVERIFY(answers.open(QIODevice::ReadOnly));
        const QByteArray xml = answers.readAll();
        for (const char *part : {"xmlns=\"urn:schemas-microsoft-com:unattend\"", "<Name>Ana</Name>",
                                 "BypassNRO", "<ProtectYourPC>3</ProtectYourPC>"})
            QVERIFY2(xml.contains(part), part);
        QVERIFY(!xml.contains("PreventDeviceEncryption"));
    }

    void solidAndEsdImagesConvert_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("image");
        QTest::newRow("solid install.wim")
            << QStringList{"--solid", "--wim-mib", "48"} << "install.wim";
        QTest::newRow("install.esd, two editions")
            << QStringList{"--esd", "--editions", "2", "--wim-mib", "32"} << "install.esd";
        QTest::newRow("LZX install.wim, three editions")
            << QStringList{"--lzx", "--editions", "3", "--wim-mib", "48"} << "install.wim";
    }
    void solidAndEsdImagesConvert()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, image);
        const QString sample = makeSample(QString(QTest::currentDataTag()) + ".iso", options);
        const QString tmp = freshFolder("tmp-solid"), out = work("solid-split.iso");
        QFile::remove(out);
        const Ran converted = run(kCli, {sample, out}, tmp);
        QVERIFY2(converted.code == 0, converted.err.constData());
        verifyNothingLeft(tmp, m_work.path());
        const Mounted mounted({sample, out});
        const QString sources = mounted[1] + "/sources";
        QVERIFY(!QFile::exists(sources + "/install.wim") &&
                !QFile::exists(sources + "/install.esd"));
        const QStringList reference{"--ref=" + sources + "/install*.swm"};
        const Ran verified = run("wimverify", QStringList{sources + "/install.swm"} + reference);
        QVERIFY2(verified.code == 0, (verified.out + verified.err).constData());
        // Every edition keeps its name, description and files.
        const QRegularExpression compression("Compression:[^\n]*\n");
        QCOMPARE(editionsOf(sources + "/install.swm", reference).remove(compression),
                 editionsOf(mounted[0] + "/sources/" + image).remove(compression));
        QCOMPARE(diffTrees(mounted[0], mounted[1], {"install.*", "install*.swm"}), QString());
    }
    // With --bootable the new image boots as the source does: the same entries,
    // each loading the same bytes; without it, no boot records at all.
    void bootableOnlyWhenAsked()
    {
        const QString sample = makeSample("bootable.iso", {"--bootable", "--wim-mib", "8"});
        const QString tmp = freshFolder("tmp-boot"), plain = work("plain-split.iso"),
                      bootable = work("bootable-split.iso");
        QFile::remove(plain);
        QFile::remove(bootable);
        Ran converted = run(kCli, {"--bootable", sample, bootable}, tmp);
        QVERIFY2(converted.code == 0, converted.err.constData());
        converted = run(kCli, {sample, plain}, tmp);
        QVERIFY2(converted.code == 0, converted.err.constData());
        verifyNothingLeft(tmp, m_work.path());

        const auto withoutSector = [](QStringList entries) {
            for (QString &entry : entries)
                entry = entry.section(' ', 0, -2);
            return entries;
        };
        const QStringList entries = BootReport::fromReader(bootable);
        QCOMPARE(entries, BootReport::fromXorriso(bootable));
        QCOMPARE(withoutSector(entries), withoutSector(BootReport::fromXorriso(sample)));
        QCOMPARE(entries.size(), 2);
        const Mounted mounted({bootable});
        const auto catalog = ElTorito::readCatalog(QFile::encodeName(bootable).toStdString());
        QVERIFY(BootReport::loadsFile(bootable, catalog.catalog.entries[0],
                                      mounted[0] + "/boot/etfsboot.com"));
        QVERIFY(BootReport::loadsFile(bootable, catalog.catalog.entries[1],
                                      mounted[0] + "/efi/microsoft/boot/efisys.bin"));

        QCOMPARE(BootReport::fromXorriso(plain), QStringList());
        QCOMPARE(ElTorito::readCatalog(QFile::encodeName(plain).toStdString()).outcome,
                 ElTorito::Outcome::NoBootRecord);

        // And they start, in a virtual machine from its CD drive: the sample (a
        // sound fixture) and the new image by UEFI and by BIOS; the plain one
        // never, the firmware giving up on it.
        for (const char *firmware : {"uefi", "bios"})
            for (const QString &image : {sample, bootable, plain}) {
                const Ran booted = bootCheck(firmware, "cd", image);
                qInfo("%s", booted.out.trimmed().constData());
                QVERIFY2(image == plain ? booted.out.contains("(the firmware gave up")
                                        : booted.code == 0,
                         booted.out.constData());
            }
    }

    // The paths a user does not choose: a kill, a crash, a hung file system,
    // someone else's mount. Each ends with nothing of ours left behind.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("SIGTERM during the copy") << "sigterm";
        QTest::newRow("SIGKILL during the build, then a new run") << "sigkill";
        QTest::newRow("FUSE server stopped during the copy") << "stalled";
        QTest::newRow("a file held open in the mount") << "busy";
        QTest::newRow("another user's mount of the same image") << "other user";
        QTest::newRow("a second run of the same image meanwhile") << "same image";
        QTest::newRow("a second run of another image meanwhile") << "other image";
        QTest::newRow("another user converts the same image meanwhile") << "other user converts";
    }
    // A second conversion beside the first, in the same temporary folder, or as
    // another user in a folder of that user's own.
    void startBeside(QProcess *beside, const QString &fault, const QString &tmp)
    {
        beside->setProcessChannelMode(QProcess::MergedChannels);
        if (fault != "other user converts") {
            beside->setProcessEnvironment(environment(tmp));
            const QString source =
                fault == "same image" ? m_sample : makeSample("small.iso", {"--wim-mib", "8"});
            QFile::remove(work("beside.iso")); // left by a row that failed
            beside->start(kCli, {source, work("beside.iso")});
            return;
        }
        const QString theirs = freshFolder("nobody");
        QDir().mkpath(theirs + "/tmp");
        ::chown(QFile::encodeName(theirs).constData(), 65534, 65534);
        ::chown(QFile::encodeName(theirs + "/tmp").constData(), 65534, 65534);
        const QStringList line = asUser(
            65534, {"env", "TMPDIR=" + theirs + "/tmp", kCli, m_sample, theirs + "/beside.iso"});
        beside->start(line[0], line.mid(1));
    }
    void faults()
    {
        QFETCH(QString, fault);
        if (fault == "other user" && ::geteuid() != 0)
            QSKIP("a second user takes root to set up");
        const QString tmp = freshFolder("tmp-fault"), out = work("fault.iso");
        QFile::remove(out);
        QProcess cli;
        cli.setProcessEnvironment(environment(tmp));
        cli.setProcessChannelMode(QProcess::MergedChannels);
        const QStringList arguments{"--verbose", m_sample, out};
        QString otherMount;
        if (fault == "other user")
            otherMount = QString::fromUtf8(runAs(65534, {kHdiutil, "attach", m_sample}).out)
                             .section('\t', -1)
                             .trimmed();
        cli.start(kCli, arguments);
        // Piped, the copy is one line; the log names the file it is at.
        const QRegularExpression waitFor(fault == "sigkill" ? "Creating ISO"
                                                            : "Copying .*/sources/install.wim");
        QByteArray seen = readUntil(
            cli, [&](const QByteArray &s) { return QString::fromUtf8(s).contains(waitFor); });
        QVERIFY2(cli.state() == QProcess::Running, seen.right(2000).constData());
        const bool meanwhile = fault.contains("image") || fault == "other user converts";
        QProcess beside;
        if (meanwhile)
            startBeside(&beside, fault, tmp);
        std::optional<QFile> held;
        if (fault == "sigterm") {
            ::kill(cli.processId(), SIGTERM);
        } else if (fault == "sigkill") {
            ::kill(cli.processId(), SIGKILL);
        } else if (fault == "stalled") {
            for (const QString &server : ourProcesses().filter("isoswm-udffs"))
                ::kill(server.section(':', 0, 0).toInt(), SIGSTOP);
            ::kill(cli.processId(), SIGINT);
        } else if (fault == "busy") {
            held.emplace(ourMounts().value(0) + "/setup.exe");
            QVERIFY(held->open(QIODevice::ReadOnly));
        }
        const bool ends = fault == "busy" || fault.startsWith("other") || meanwhile;
        QVERIFY(cli.waitForFinished(ends ? 600000 : 15000));
        seen += cli.readAll();
        if (meanwhile) {
            // Neither run touches the other's mount, folder or marker.
            QVERIFY(beside.waitForFinished(600000));
            QVERIFY2(beside.exitCode() == 0, beside.readAll().right(3000).constData());
            QVERIFY2(cli.exitCode() == 0, seen.right(3000).constData());
            const QString theirs = fault == "other user converts" ? work("nobody") : m_work.path();
            const Mounted mounted({out, theirs + "/beside.iso"});
            for (const QString &point : mounted.points)
                QVERIFY2(QFile::exists(point + "/sources/install.swm") &&
                             !QFile::exists(point + "/sources/install.wim"),
                         qPrintable(mounted.points.join(", ") + ": " +
                                    entries(point + "/sources").join(' ')));
            QVERIFY(fault != "other user converts" || entries(theirs + "/tmp").isEmpty());
            QFile::remove(theirs + "/beside.iso");
        }
        if (fault == "sigterm" || fault == "stalled")
            QCOMPARE(cli.exitCode(), 130);
        if (fault == "busy" || fault == "other user")
            QVERIFY2(cli.exitCode() == 0, seen.right(3000).constData());
        if (fault == "busy") {
            QVERIFY(seen.contains("detaching it by force"));
            held.reset();
        }
        if (fault == "other user") {
            // Left alone, alive and still the other user's (FUSE lets only its
            // owner in, root included).
            QVERIFY(ourMounts().contains(otherMount));
            QCOMPARE(runAs(65534, {"test", "-f", otherMount + "/setup.exe"}).code, 0);
            runAs(65534, {kHdiutil, "unmount", otherMount});
        }
        if (fault == "sigkill") {
            // Every child went with it; the next run clears what it left.
            QTRY_COMPARE_WITH_TIMEOUT(ourProcesses(), m_processesBefore, 5000);
            QTRY_COMPARE_WITH_TIMEOUT(ourMounts(), QStringList(), 5000);
            QVERIFY(!entries(tmp).isEmpty());
            const QString small = makeSample("small.iso", {"--wim-mib", "8"});
            const Ran next = run(kCli, {small, work("small-split.iso")}, tmp);
            QVERIFY2(next.code == 0, next.err.constData());
            QVERIFY(QFile::remove(work("small-split.iso")));
        }
        verifyNothingLeft(tmp, m_work.path());
        QVERIFY(!QFile::exists(out) || ends);
        QFile::remove(out);
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
