// The terminal front end, run as a user would, against the fake disk tools.

#include "FakeVolume.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <sys/ioctl.h>

class CliRun : public FakeVolume {
public:
    CliRun() : FakeVolume("J_CCSA_X64FRE") { destination = root.filePath("Win11 x64-split.iso"); }

    // With `columns`, on a terminal of that width (its controlling terminal,
    // for all three standard streams); else through pipes.
    std::unique_ptr<QProcess> start(const QStringList &arguments, int columns = 0)
    {
        auto p = std::make_unique<QProcess>();
        int slave = -1;
        const winsize size{24, ushort(columns), 0, 0};
        if (columns > 0 && ::openpty(&master, &slave, nullptr, nullptr, &size) == 0) {
            ::fcntl(master, F_SETFL, O_NONBLOCK);
            p->setChildProcessModifier([slave] {
                ::setsid();
                ::ioctl(slave, TIOCSCTTY, 0);
                for (int fd : {0, 1, 2})
                    ::dup2(slave, fd);
            });
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ISOSWM_HDIUTIL", ISOSWM_FAKES_DIR "/hdiutil");
        env.insert("ISOSWM_DISKUTIL", ISOSWM_FAKES_DIR "/diskutil");
        env.insert("ISOSWM_RESOURCES", resources);
        p->setProcessEnvironment(env);
        p->start(ISOSWM_BIN_DIR "/isoswm-cli", arguments);
        p->waitForStarted();
        if (slave >= 0)
            ::close(slave);
        return p;
    }

    // All the terminal was sent until the program ended.
    QByteArray shown(QProcess &p)
    {
        QByteArray bytes;
        char buffer[4096];
        const QDeadlineTimer deadline(60000);
        for (ssize_t n = 0;
             (p.state() != QProcess::NotRunning && !deadline.hasExpired()) || n > 0;) {
            p.waitForFinished(20);
            while ((n = ::read(master, buffer, sizeof buffer)) > 0)
                bytes.append(buffer, n);
        }
        ::close(master);
        return bytes;
    }

    // The rows a terminal of `columns` shows after `bytes` (lines are drawn over
    // with \r, cleared with ESC [ K, and wrap at the last column).
    static QStringList screen(const QByteArray &bytes, int columns)
    {
        QStringList rows{QString()};
        int column = 0;
        const QString text = QString::fromUtf8(bytes);
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == '\n' || (column == columns && text[i] != '\r'))
                rows << QString(), column = 0;
            if (text[i] == '\r')
                column = 0;
            else if (text[i] == '\x1b')
                rows.last().truncate(column), i = text.indexOf('K', i);
            else if (text[i] != '\n')
                rows.last() = rows.last().leftJustified(column + 1),
                rows.last()[column++] = text[i];
        }
        rows.removeAll(QString());
        return rows;
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

    int master = -1;
};

// A progress line as drawn: its stage first, then the percent.
const QRegularExpression kProgress("^[A-Za-z][^%]*\\S  +\\d+%( \\[[#-]+\\])?(  .*)?$");

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void usage()
    {
        CliRun r;
        QByteArray out, err;
        QCOMPARE(r.run({"--help"}, &out), 0);
        for (const char *text : {"--force", "--verbose", "--direct", "--bootable",
                                 "--temporary-folder", "Ctrl-C", "130"})
            QVERIFY2(out.contains(text), text);
        QCOMPARE(r.run({"--version"}, &out), 0);
        QVERIFY2(out.startsWith("isoswm-cli ") && out.size() > 12, out.constData());
        QCOMPARE(r.run({r.source}, nullptr, &err), 2);
        QVERIFY(err.contains("SOURCE.iso"));
        QCOMPARE(r.run({r.root.filePath("missing.iso"), r.destination}, nullptr, &err), 2);
        QVERIFY(err.contains("is not a file"));
        // The source under another name, and a folder, are refused at once, --force or not.
        const QString link = r.root.filePath("link.iso"), hard = r.root.filePath("hard.iso");
        QVERIFY(QFile::link(r.source, link) &&
                ::link(QFile::encodeName(r.source), QFile::encodeName(hard)) == 0);
        for (const QString &destination : {r.source, link, hard, r.root.filePath("out")}) {
            QCOMPARE(r.run({"--force", r.source, destination}, nullptr, &err), 2);
            QVERIFY(err.contains(destination.endsWith("/out") ? "is a folder" : "must differ"));
        }
        // A temporary folder that cannot take the files is refused at once, by name.
        for (const QString &folder : {r.root.filePath("gone"), r.source}) {
            QCOMPARE(r.run({"--temporary-folder", folder, r.source, r.destination}, nullptr, &err),
                     2);
            QVERIFY2(err.contains("“" + folder.toUtf8() + "”"), err.constData());
        }
        QVERIFY(r.calls().isEmpty()); // no tool ran
    }

    // What a person sees on a terminal of 70 or 120 columns, or through pipes:
    // each progress line with its stage first, within the width, one a stage
    // when piped, and a finished one last; a usage error in two lines.
    void endOfARun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("columns");
        for (const int columns : {70, 120, 0}) {
            const QByteArray where = columns ? QByteArray::number(columns) + " columns" : "piped";
            QTest::newRow("converted, " + where) << QStringList() << columns;
            QTest::newRow("usage error, " + where) << QStringList{"--bogus"} << columns;
        }
    }
    void endOfARun()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, columns);
        CliRun r;
        const bool usage = !arguments.isEmpty();
        const auto p = r.start(arguments << r.source << r.destination, columns);
        const QByteArray bytes = columns ? r.shown(*p) : QByteArray();
        QVERIFY(p->state() == QProcess::NotRunning || p->waitForFinished(60000));
        QCOMPARE(p->exitCode(), usage ? 2 : 0);
        const auto lines = [](const QByteArray &b) {
            return QString::fromUtf8(b).split('\n', Qt::SkipEmptyParts);
        };
        const QStringList rows =
            columns ? CliRun::screen(bytes, columns) : lines(p->readAllStandardOutput());
        if (usage) {
            const QStringList said = columns ? rows : lines(p->readAllStandardError());
            QCOMPARE(said.size(), 2);
            QVERIFY(said[0].contains("bogus") && said[1].contains("--help"));
            return;
        }
        // Piped, all but "Created" is progress; on a terminal, what was drawn over.
        QStringList drawn = columns ? QStringList() : rows.mid(0, rows.size() - 1);
        for (const QByteArray &part : bytes.split('\r'))
            if (part.endsWith("\x1b[K") && part.size() > 3)
                drawn << QString::fromUtf8(part.chopped(3));
        for (qsizetype i = 0; i < drawn.size(); ++i) {
            const QString stage = drawn[i].section("  ", 0, 0);
            QVERIFY2(kProgress.match(drawn[i]).hasMatch() &&
                         (columns ? drawn[i].size() < columns
                                  : i == 0 || stage != drawn[i - 1].section("  ", 0, 0)),
                     qPrintable(drawn[i]));
        }
        const QString done = columns ? "Done  100% [####################]" : "Done  100%";
        QCOMPARE(drawn.last(), done);
        QCOMPARE(rows.last(), "Created " + r.destination);
        for (const QString &row : rows)
            QVERIFY2(!columns || row.size() < columns, qPrintable(row));
        QVERIFY(!columns || rows.value(rows.indexOf("ISO creation completed") - 1) == done);
    }

    void convertsAndReplacesOnlyWhenForced()
    {
        CliRun r;
        QByteArray out, err;
        QCOMPARE(r.run({r.source, r.destination}, &out, &err), 0);
        QCOMPARE((out + err).count(r.destination.toUtf8()), 1); // the output's path, said once
        QVERIFY(r.read(r.destination).contains("./sources/install2.swm"));

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
        QCOMPARE((out + err).count(r.destination.toUtf8()), 1);
        // A mount tool's reason is said once, with its alert.
        r.touch("attach.err", "hdiutil: attach failed - not a UDF image\n");
        QCOMPARE(r.run({r.source, r.destination}, &out, &err), 1);
        QCOMPARE(err.count("not a UDF image"), 1);
    }

    // Ctrl-C, kill and a closed terminal all cancel and wait for cleanup.
    void signalsCancelAndWaitForCleanup_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<int>("columns"); // of a terminal, 0 for pipes
        QTest::newRow("SIGINT") << int(SIGINT) << 0;
        QTest::newRow("Ctrl-C on 70 columns") << int(SIGINT) << 70;
        QTest::newRow("SIGTERM on 120 columns") << int(SIGTERM) << 120;
        QTest::newRow("SIGHUP") << int(SIGHUP) << 0;
    }
    void signalsCancelAndWaitForCleanup()
    {
        QFETCH(int, signalNumber);
        QFETCH(int, columns);
        CliRun r;
        r.touch("makehybrid.hang");
        const auto p = r.start({r.source, r.destination}, columns);
        const QString pidFile = r.fakeDir + "/makehybrid.pid";
        QTRY_VERIFY_WITH_TIMEOUT(processInPidFileAlive(pidFile), 20000);
        if (columns == 70)
            QCOMPARE(::write(r.master, "\x03", 1), 1); // the terminal echoes "^C"
        else
            ::kill(p->processId(), signalNumber);
        const QByteArray shown = columns ? r.shown(*p) : QByteArray();
        QVERIFY(p->state() == QProcess::NotRunning || p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 130);
        QVERIFY(!processInPidFileAlive(pidFile)); // the build's child is gone
        QVERIFY(r.leftoverTemporaryFolders().isEmpty());
        QVERIFY(r.besideDestination().isEmpty()); // nothing half-written
        const QByteArray err = columns ? shown : p->readAllStandardError();
        QVERIFY(err.contains("Cancelled") && !err.contains("ISO creation completed"));
        // On a terminal: the line as it stood ("^C" after it), the message on a
        // line of its own, the outcome last, and no emptied bar between them.
        QStringList rows = CliRun::screen(shown, columns);
        rows = rows.mid(rows.size() - 3);
        QVERIFY2(!columns || (kProgress.match(QString(rows.value(0)).remove("^C")).hasMatch() &&
                              rows.value(1).startsWith("isoswm-cli: cancelling") &&
                              rows.value(2).startsWith("Cancelled; ")),
                 qPrintable(rows.join('\n')));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
