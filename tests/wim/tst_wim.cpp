// WimImage on small images made with the real wimlib tools: plain LZX, solid,
// ESD-like, three editions sharing their files, split sets.

#include "FakeVolume.h"
#include "WimImage.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

namespace {

using Outcome = WimImage::Outcome;
const QStringList kNames = {"Windows 11 Home", "Windows 11 Pro", "Windows 11 Pro N"};
const QStringList kFlags = {"Core", "Professional", "ProfessionalN"};
const quint64 kDataBytes = 8 * 300000 + 6 * 50000 + 200000;
constexpr auto writeFile = &FakeVolume::write;

bool tool(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess p;
    p.start(program, arguments);
    const bool ok =
        p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(p.readAllStandardOutput());
    if (!ok)
        qWarning() << program << arguments << p.readAllStandardError();
    return ok;
}

// Each path of one image with its attributes, time and the hash of its data.
QStringList listing(const QString &path, int image)
{
    QString listed;
    tool("wimdir", {path, QString::number(image), "--detailed"}, &listed);
    return listed.split('\n').filter(
        QRegularExpression("^(Full Path|Attributes|Last Write Time|Hash) "));
}

// What inspect says: the error, or the compression, solidity, piece count and
// whether the sizes add up, then one line per edition.
QStringList describe(const QString &path)
{
    const auto inspected = WimImage::inspect(path);
    if (const auto *error = std::get_if<Error>(&inspected))
        return {error->message + (error->details.contains(path) ? "" : " (path not in details)")};
    const auto &i = std::get<WimImage::Info>(inspected);
    const bool sizes = i.fileSize == quint64(QFileInfo(path).size()) &&
                       i.storedBytes <= i.fileSize &&
                       (i.totalParts > 1 || i.uniqueBytes >= kDataBytes);
    QStringList lines(QString("%1 %2 %3 %4")
                          .arg(i.compressionName, i.solid ? "solid" : "-")
                          .arg(i.totalParts)
                          .arg(sizes ? "sizes" : "bad sizes"));
    for (const WimImage::Edition &e : i.editions)
        lines << QString("%1|%2|%3|%4|%5|%6")
                     .arg(e.index)
                     .arg(e.name, e.description, e.displayName, e.flags)
                     .arg(e.totalBytes >= kDataBytes);
    return lines;
}

QStringList entries(const QString &folder)
{
    QStringList all;
    for (const QFileInfo &entry : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot))
        all << entry.fileName() + ' ' + QString::number(entry.size());
    return all;
}

// A progress callback that keeps the last figures and stops at call `stopAt`.
struct Watched {
    quint64 calls = 0, done = 0, total = 0;
    bool moved = false; // reported some part done, neither none nor all
    WimImage::Progress progress(quint64 stopAt = 0)
    {
        return [this, stopAt](quint64 d, quint64 t) {
            moved = moved || (d > 0 && d < t);
            return done = d, total = t, ++calls != stopAt;
        };
    }
    bool finished() const { return moved && total >= kDataBytes && done == total; }
};

} // namespace

class WimTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    bool m_mountedFull = false;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile random("/dev/urandom");
        QVERIFY(random.open(QIODevice::ReadOnly));
        for (int i = 0; i < 8; ++i)
            writeFile(path(QString("tree/Windows/System32/%1.dll").arg(i)), random.read(300000));
        QByteArray nearCopy = random.read(50000); // solid LZMS stores these once, LZX each in full
        for (int i = 0; i < 6; ++i)
            writeFile(path(QString("tree/Windows/WinSxS/%1.dll").arg(i)), nearCopy.insert(0, 'a'));
        writeFile(path("tree/Program Files/Ünïcødé/readme.txt"), QByteArray(200000, 'x'));
        writeFile(path("tree/empty.txt"), {});
        const QString plain = path("plain.wim");
        for (int i = 0; i < kNames.size(); ++i) {
            writeFile(path("tree/Windows/edition.txt"), kNames[i].toUtf8());
            QVERIFY(tool("wimappend", {"--create", path("tree"), plain, kNames[i],
                                       "Sample of " + kNames[i], "--flags=" + kFlags[i],
                                       "--image-property", "DISPLAYNAME=Shown " + kNames[i]}));
        }
        QVERIFY(
            tool("wimexport", {plain, "all", path("solid.wim"), "--solid", "--compress=XPRESS"}));
        QVERIFY(tool("wimexport", {plain, "all", path("install.esd"), "--solid"}));
        // Two sets of the same content; only their identity tells them apart.
        QVERIFY(tool("wimexport", {plain, "all", path("other.wim")}));
        for (const QString &set : {QString("split"), QString("other")})
            QVERIFY(QDir().mkpath(path(set)) &&
                    tool("wimsplit", {path(set == "split" ? "plain.wim" : "other.wim"),
                                      path(set + "/install.swm"), "1"}));
        writeFile(path("not-a-wim.wim"), QByteArray(4096, 'x'));
        writeFile(path("existing.wim"), "keep");
        QDir().mkpath(path("full"));
        m_mountedFull = geteuid() == 0 &&
                        tool("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", path("full")});
    }
    void cleanupTestCase()
    {
        if (m_mountedFull)
            tool("umount", {path("full")});
    }

    void inspectsEachShape_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *file, const char *expected) {
            QTest::newRow(file) << file << expected;
        };
        row("plain.wim", "LZX - 1 sizes");
        row("solid.wim", "XPRESS solid 1 sizes");
        row("install.esd", "LZMS solid 1 sizes");
        row("split/install.swm", "LZX - 3 sizes");
        row("not-a-wim.wim", "“not-a-wim.wim” isn’t a Windows image.");
        row("none.esd", "“none.esd” couldn’t be read.");
    }
    void inspectsEachShape()
    {
        QFETCH(QString, file);
        QFETCH(QString, expected);
        QStringList wanted(expected);
        for (int i = 0; i < kNames.size() && !expected.endsWith('.'); ++i)
            wanted
                << QString("%1|%2|Sample of %2|Shown %2|%3|1").arg(i + 1).arg(kNames[i], kFlags[i]);
        QCOMPARE(describe(path(file)), wanted);
    }

    void exportKeepsEveryEdition_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<WimCompression>("compression");
        QTest::addColumn<QString>("header");
        QTest::newRow("solid") << "solid.wim" << WimCompression::Lzx << "LZX - 1 sizes";
        QTest::newRow("ESD") << "install.esd" << WimCompression::Lzx << "LZX - 1 sizes";
        QTest::newRow("ESD to XPRESS")
            << "install.esd" << WimCompression::Xpress << "XPRESS - 1 sizes";
    }
    void exportKeepsEveryEdition()
    {
        QFETCH(QString, file);
        QFETCH(WimCompression, compression);
        QFETCH(QString, header);
        const QString out = path(QTest::currentDataTag() + QString(".out.wim"));
        const QString pieces = path(QTest::currentDataTag() + QString("/install.swm"));
        Watched watched;
        WimExportOptions options;
        options.compression = compression;
        QCOMPARE(WimImage::exportForSplit(path(file), out, watched.progress(), options).outcome,
                 Outcome::Done);
        QVERIFY(watched.finished());
        QCOMPARE(describe(out), QStringList(header) + describe(path(file)).mid(1));
        for (int i = 1; i <= kNames.size(); ++i)
            QCOMPARE(listing(out, i), listing(path(file), i));
        QCOMPARE(listing(out, 1).size(), 4 * 23);
        const auto source = std::get<WimImage::Info>(WimImage::inspect(path(file)));
        QVERIFY(quint64(QFileInfo(out).size()) <= WimImage::estimatedExportBytes(source));
        QVERIFY(QDir().mkpath(QFileInfo(pieces).path()) && tool("wimsplit", {out, pieces, "1"}));
        QCOMPARE(WimImage::verifySplitSet(pieces, {}).outcome, Outcome::Done);
    }

    void exportLeavesNothingWhenItStops_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("stopAt"); // -1: asks for LZMS output
        QTest::addColumn<QString>("message");
        const auto row = [](const char *tag, const char *source, const char *destination,
                            int stopAt, const char *message) {
            QTest::newRow(tag) << source << destination << stopAt << message;
        };
        row("cancelled", "install.esd", "out/b.wim", 3, "");
        row("no folder", "install.esd", "no/x.wim", 0, "“x.wim” couldn’t be written.");
        row("disk full", "install.esd", "full/x.wim", 0, "There isn’t enough space in “DIR/full”.");
        row("not a WIM", "not-a-wim.wim", "out/c.wim", 0, "“not-a-wim.wim” isn’t a Windows image.");
        row("already split", "split/install.swm", "out/d.wim", 0,
            "“install.swm” is already split.");
        row("LZMS", "install.esd", "out/e.wim", -1, "“install.esd” can’t be split as LZMS.");
        row("never replaces", "install.esd", "existing.wim", 0, "“existing.wim” already exists.");
    }
    void exportLeavesNothingWhenItStops()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, stopAt);
        QFETCH(QString, message);
        if (destination.startsWith("full") && !m_mountedFull)
            QSKIP("a full disk is a small tmpfs, which only root can mount");
        const QString folder = QFileInfo(path(destination)).path();
        const QStringList before = entries(folder);
        Watched watched;
        WimExportOptions options;
        if (stopAt < 0)
            options.compression = WimCompression::Lzms;
        QDir().mkpath(path("out"));
        const WimImage::Result result = WimImage::exportForSplit(path(source), path(destination),
                                                                 watched.progress(stopAt), options);
        QCOMPARE(result.outcome, message.isEmpty() ? Outcome::Cancelled : Outcome::Failed);
        QCOMPARE(result.error.message, message.replace("DIR", m_dir.path()));
        QCOMPARE(entries(folder), before);
        QVERIFY(stopAt <= 0 || watched.calls == quint64(stopAt));
    }

    void verifyFindsWhatIsWrong_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *change, Outcome outcome, const QString &message = {}) {
            QTest::newRow(change) << QString(change) << outcome << message;
        };
        const QString split = "split image “install.swm”";
        row("intact", Outcome::Done);
        row("names in capitals", Outcome::Done);
        row("piece missing", Outcome::Failed, "Piece 2 of 3 of the " + split + " is missing.");
        row("byte flipped", Outcome::Failed, "The " + split + " is damaged.");
        row("foreign piece", Outcome::Failed,
            "“install2.swm” doesn’t belong to the " + split + ".");
        row("cancelled", Outcome::Cancelled);
    }
    void verifyFindsWhatIsWrong()
    {
        QFETCH(QString, change);
        QFETCH(Outcome, outcome);
        QFETCH(QString, message);
        const QDir set(path("verify " + change));
        QVERIFY(set.mkpath("."));
        for (const QString &name : QDir(path("split")).entryList(QDir::Files))
            QVERIFY(QFile::copy(path("split/" + name), set.filePath(name)));
        QFile second(set.filePath("install2.swm"));
        if (change == "names in capitals")
            QVERIFY(second.rename(set.filePath("INSTALL2.SWM")));
        if (change == "piece missing" || change == "foreign piece")
            QVERIFY(second.remove());
        if (change == "foreign piece") // the same blobs, from another set
            QVERIFY(QFile::copy(path("other/install2.swm"), second.fileName()));
        if (change == "byte flipped") {
            QVERIFY(second.open(QIODevice::ReadWrite) && second.seek(second.size() / 2));
            const char byte = second.peek(1).at(0);
            QVERIFY(second.putChar(char(~byte)));
            second.close();
        }
        Watched watched;
        const WimImage::Result result = WimImage::verifySplitSet(
            set.filePath("install.swm"), watched.progress(change == "cancelled" ? 2 : 0));
        QCOMPARE(result.error.message, message);
        QCOMPARE(result.outcome, outcome);
        QVERIFY(outcome != Outcome::Done || watched.finished());
    }
};

QTEST_GUILESS_MAIN(WimTest)
#include "tst_wim.moc"
