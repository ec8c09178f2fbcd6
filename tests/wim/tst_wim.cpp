// WimImage on small images made with the real wimlib tools: plain LZX, solid,
// ESD-like, three editions sharing their files, split sets.

#include "WimImage.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>
#include <wimlib.h>

namespace {

using Outcome = WimImage::Outcome;
const QStringList kNames = {"Windows 11 Home", "Windows 11 Pro", "Windows 11 Pro N"};
const QStringList kFlags = {"Core", "Professional", "ProfessionalN"};

bool tool(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    const bool ok =
        p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning() << program << arguments << p.readAllStandardError();
    return ok;
}

void writeFile(const QString &path, QByteArray bytes, int randomSize = 0)
{
    bytes.resize(bytes.size() + randomSize);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          randomSize / 4);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
}

// Each path of one image with the hash of its data, as libwim lists them.
QStringList listing(const QString &path, int image)
{
    wimlib_global_init(WIMLIB_INIT_FLAG_ASSUME_UTF8);
    WIMStruct *wim = nullptr;
    QStringList lines;
    if (wimlib_open_wim(QFile::encodeName(path).constData(), 0, &wim) != 0)
        return lines;
    const auto add = [](const wimlib_dir_entry *entry, void *lines) {
        const auto *hash = reinterpret_cast<const char *>(entry->streams[0].resource.sha1_hash);
        static_cast<QStringList *>(lines)->append(QString::fromUtf8(entry->full_path) + ' ' +
                                                  QByteArray(hash, 20).toHex());
        return 0;
    };
    wimlib_iterate_dir_tree(wim, image, "", WIMLIB_ITERATE_DIR_TREE_FLAG_RECURSIVE, add, &lines);
    wimlib_free(wim);
    return lines;
}

// A progress callback that keeps the last figures and stops at call `stopAt`.
struct Watched {
    quint64 calls = 0, done = 0, total = 0;
    WimImage::Progress progress(quint64 stopAt = 0)
    {
        return
            [this, stopAt](quint64 d, quint64 t) { return done = d, total = t, ++calls != stopAt; };
    }
};

QStringList fields(const WimImage::Edition &e)
{
    return {QString::number(e.index), e.name, e.description, e.displayName, e.flags};
}

} // namespace

class WimTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    const quint64 m_dataBytes = 8 * 300000 + 200000;
    bool m_mountedFull = false;

    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (int i = 0; i < 8; ++i)
            writeFile(path(QString("tree/Windows/System32/part%1.dll").arg(i)), {}, 300000);
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
        for (const QString &set : QStringList{"split", "other"}) {
            QDir().mkpath(path(set));
            QVERIFY(tool("wimsplit", {path(set == "split" ? "plain.wim" : "other.wim"),
                                      path(set + "/install.swm"), "1"}));
        }
        writeFile(path("not-a-wim.wim"), QByteArray(4096, 'x'));
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
        QTest::addColumn<QString>("compression");
        QTest::addColumn<bool>("solid");
        QTest::addColumn<int>("parts");
        QTest::newRow("plain LZX") << "plain.wim"
                                   << "LZX" << false << 1;
        QTest::newRow("solid") << "solid.wim"
                               << "XPRESS" << true << 1;
        QTest::newRow("ESD") << "install.esd"
                             << "LZMS" << true << 1;
        QTest::newRow("first piece") << "split/install.swm"
                                     << "LZX" << false << 3;
    }
    void inspectsEachShape()
    {
        QFETCH(QString, file);
        QFETCH(QString, compression);
        QFETCH(bool, solid);
        QFETCH(int, parts);
        const auto inspected = WimImage::inspect(path(file));
        QVERIFY(std::holds_alternative<WimImage::Info>(inspected));
        const WimImage::Info &info = std::get<WimImage::Info>(inspected);
        QCOMPARE(QStringList({info.compressionName, QString::number(info.solid)}),
                 QStringList({compression, QString::number(solid)}));
        QCOMPARE(info.totalParts, parts);
        QCOMPARE(info.editions.size(), kNames.size());
        for (int i = 0; i < kNames.size(); ++i) {
            QCOMPARE(fields(info.editions[i]),
                     QStringList({QString::number(i + 1), kNames[i], "Sample of " + kNames[i],
                                  "Shown " + kNames[i], kFlags[i]}));
            QVERIFY(info.editions[i].totalBytes >= m_dataBytes);
        }
        QCOMPARE(info.fileSize, quint64(QFileInfo(path(file)).size()));
        QVERIFY(info.storedBytes <= info.fileSize);
        QVERIFY(parts > 1 || info.uniqueBytes >= m_dataBytes);
    }

    void inspectNamesWhatIsWrong()
    {
        for (const auto &[file, message] :
             {std::pair{"not-a-wim.wim", "“not-a-wim.wim” isn’t a Windows image."},
              std::pair{"none.esd", "“none.esd” couldn’t be read."}}) {
            const auto inspected = WimImage::inspect(path(file));
            QVERIFY(std::holds_alternative<Error>(inspected));
            QCOMPARE(std::get<Error>(inspected).message, QString(message));
            QVERIFY(std::get<Error>(inspected).details.contains(path(file)));
        }
    }

    void exportKeepsEveryEdition_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<WimCompression>("compression");
        QTest::addColumn<QString>("name");
        QTest::newRow("solid") << "solid.wim" << WimCompression::Lzx << "LZX";
        QTest::newRow("ESD") << "install.esd" << WimCompression::Lzx << "LZX";
        QTest::newRow("ESD to XPRESS") << "install.esd" << WimCompression::Xpress << "XPRESS";
    }
    void exportKeepsEveryEdition()
    {
        QFETCH(QString, file);
        QFETCH(WimCompression, compression);
        QFETCH(QString, name);
        const QString out = path(QTest::currentDataTag() + QString(".exported.wim"));
        const QString pieces = path(QTest::currentDataTag() + QString("/install.swm"));
        Watched watched;
        WimExportOptions options;
        options.compression = compression;
        QCOMPARE(WimImage::exportForSplit(path(file), out, watched.progress(), options).outcome,
                 Outcome::Done);
        QVERIFY(watched.total >= m_dataBytes && watched.done == watched.total);

        const auto source = std::get<WimImage::Info>(WimImage::inspect(path(file)));
        const auto exported = std::get<WimImage::Info>(WimImage::inspect(out));
        QCOMPARE(exported.compressionName, name);
        QVERIFY(!exported.solid);
        QVERIFY(exported.fileSize <= WimImage::estimatedExportBytes(source));
        QCOMPARE(exported.editions.size(), source.editions.size());
        for (int i = 0; i < source.editions.size(); ++i) {
            QCOMPARE(fields(exported.editions[i]), fields(source.editions[i]));
            QCOMPARE(exported.editions[i].totalBytes, source.editions[i].totalBytes);
            QCOMPARE(listing(out, i + 1), listing(path(file), i + 1));
        }
        QCOMPARE(listing(out, 1).size(), 16);
        QVERIFY(QDir().mkpath(QFileInfo(pieces).path()) && tool("wimsplit", {out, pieces, "1"}));
        QCOMPARE(WimImage::verifySplitSet(pieces, {}).outcome, Outcome::Done);
    }

    void exportLeavesNothingWhenItStops_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("stopAt");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("cancelled") << "install.esd"
                                   << "out/a.wim" << 1 << Outcome::Cancelled << "";
        QTest::newRow("cancelled later") << "install.esd"
                                         << "out/b.wim" << 3 << Outcome::Cancelled << "";
        QTest::newRow("no folder")
            << "install.esd"
            << "none/install.wim" << 0 << Outcome::Failed << "“install.wim” couldn’t be written.";
        QTest::newRow("disk full") << "install.esd"
                                   << "full/install.wim" << 0 << Outcome::Failed
                                   << "There isn’t enough space in “DIR/full”.";
        QTest::newRow("not a WIM")
            << "not-a-wim.wim"
            << "out/c.wim" << 0 << Outcome::Failed << "“not-a-wim.wim” isn’t a Windows image.";
        // -1: asks for LZMS output.
        QTest::newRow("LZMS") << "install.esd"
                              << "out/e.wim" << -1 << Outcome::Failed
                              << "“install.esd” can’t be split as LZMS.";
        QTest::newRow("already split")
            << "split/install.swm"
            << "out/d.wim" << 0 << Outcome::Failed << "“install.swm” is already split.";
    }
    void exportLeavesNothingWhenItStops()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, stopAt);
        QFETCH(Outcome, outcome);
        QFETCH(QString, message);
        if (destination.startsWith("full") && !m_mountedFull)
            QSKIP("a full disk is a small tmpfs, which only root can mount");
        QDir().mkpath(path("out"));
        Watched watched;
        WimExportOptions options;
        if (stopAt < 0)
            options.compression = WimCompression::Lzms;
        const WimImage::Result result = WimImage::exportForSplit(path(source), path(destination),
                                                                 watched.progress(stopAt), options);
        QCOMPARE(result.outcome, outcome);
        QCOMPARE(result.error.message, message.replace("DIR", m_dir.path()));
        QVERIFY(QDir(QFileInfo(path(destination)).path()).isEmpty());
        QVERIFY(stopAt <= 0 || watched.calls == quint64(stopAt));
    }

    void exportNeverReplacesAFile()
    {
        writeFile(path("existing.wim"), "keep");
        const WimImage::Result result =
            WimImage::exportForSplit(path("install.esd"), path("existing.wim"), {});
        QCOMPARE(result.outcome, Outcome::Failed);
        QCOMPARE(result.error.message, QString("“existing.wim” already exists."));
        QFile kept(path("existing.wim"));
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == "keep");
    }

    void verifyFindsWhatIsWrong_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QString>("message");
        QTest::newRow("intact") << "" << Outcome::Done << "";
        QTest::newRow("names in capitals") << "rename" << Outcome::Done << "";
        QTest::newRow("piece missing")
            << "remove" << Outcome::Failed
            << "Piece 2 of 3 of the split image “install.swm” is missing.";
        QTest::newRow("byte flipped")
            << "flip" << Outcome::Failed << "The split image “install.swm” is damaged.";
        QTest::newRow("foreign piece")
            << "foreign" << Outcome::Failed
            << "“install4.swm” doesn’t belong to the split image “install.swm”.";
        QTest::newRow("cancelled") << "cancel" << Outcome::Cancelled << "";
    }
    void verifyFindsWhatIsWrong()
    {
        QFETCH(QString, change);
        QFETCH(Outcome, outcome);
        QFETCH(QString, message);
        const QDir set(path(QString("verify-") + QTest::currentDataTag()));
        QVERIFY(set.mkpath("."));
        for (const QString &name : QDir(path("split")).entryList(QDir::Files))
            QVERIFY(QFile::copy(path("split/" + name), set.filePath(name)));
        QFile second(set.filePath("install2.swm"));
        if (change == "rename")
            QVERIFY(second.rename(set.filePath("INSTALL2.SWM")));
        if (change == "remove")
            QVERIFY(second.remove());
        if (change == "flip") {
            QVERIFY(second.open(QIODevice::ReadWrite) && second.seek(second.size() / 2));
            const char byte = second.peek(1).at(0);
            QVERIFY(second.putChar(char(~byte)));
            second.close();
        }
        if (change == "foreign")
            QVERIFY(QFile::copy(path("other/install2.swm"), set.filePath("install4.swm")));
        Watched watched;
        const WimImage::Result result = WimImage::verifySplitSet(
            set.filePath("install.swm"), watched.progress(change == "cancel" ? 2 : 0));
        QCOMPARE(result.error.message, message);
        QCOMPARE(result.outcome, outcome);
        if (outcome == Outcome::Done)
            QVERIFY(watched.total >= m_dataBytes && watched.done == watched.total);
    }

    // The sample maker's shapes, read back from its ISO.
    void sampleShapes_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("expected"); // compression, solid, edition names
        QTest::newRow("ESD") << "--esd --editions 3"
                             << "install.esd"
                             << "LZMS 1 Windows 11 Home,Windows 11 Pro,Windows 11 Home N";
        QTest::newRow("solid LZX") << "--solid --lzx --editions 2"
                                   << "install.wim"
                                   << "LZMS 1 Windows 11 Home,Windows 11 Pro";
        QTest::newRow("LZX") << "--lzx"
                             << "install.wim"
                             << "LZX 0 Windows 10 Pro";
    }
    void sampleShapes()
    {
        QFETCH(QString, shape);
        QFETCH(QString, image);
        QFETCH(QString, expected);
        const QString iso = path(QTest::currentDataTag() + QString(".iso"));
        QVERIFY(tool(ISOSWM_SOURCE_DIR "/scripts/make-sample-iso",
                     shape.split(' ') + QStringList{"--wim-mib", "2", iso}));
        QProcess isoinfo;
        isoinfo.start("isoinfo", {"-R", "-i", iso, "-f"});
        QVERIFY(isoinfo.waitForFinished());
        QCOMPARE(QString(isoinfo.readAll()).split('\n').filter("/sources/install."),
                 QStringList("/sources/" + image));
        isoinfo.setStandardOutputFile(path(image));
        isoinfo.start("isoinfo", {"-R", "-i", iso, "-x", "/sources/" + image});
        QVERIFY(isoinfo.waitForFinished());
        const auto info = std::get<WimImage::Info>(WimImage::inspect(path(image)));
        QStringList names;
        for (const WimImage::Edition &edition : info.editions)
            names << edition.name;
        QCOMPARE(QString("%1 %2 %3").arg(info.compressionName).arg(info.solid).arg(names.join(',')),
                 expected);
    }
};

QTEST_GUILESS_MAIN(WimTest)
#include "tst_wim.moc"
