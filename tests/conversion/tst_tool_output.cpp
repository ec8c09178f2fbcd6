#include "MountOutput.h"
#include "StageDetail.h"
#include "ToolProgress.h"

#include <QFile>
#include <QTest>
#include <plist/plist.h>

using namespace MountOutput;

static QByteArray saved(const char *name)
{
    QFile f(QStringLiteral(ISOSWM_TESTS_DIR "/data/") + name);
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing saved output %s", name);
    return f.readAll();
}

// What the disk tools print, read the way the conversion reads it.
class TestToolOutput : public QObject {
    Q_OBJECT
private slots:
    void attachedImagesFromXmlAndBinary()
    {
        const QByteArray xml = saved("hdiutil-info.plist");
        const std::vector<AttachedImage> fromXml = parseAttachedImages(xml);
        QCOMPARE(fromXml.size(), size_t(2));
        QCOMPARE(fromXml[0].imagePath, QString("/Users/me/Downloads/Win10_22H2_English_x64.iso"));
        QCOMPARE(fromXml[0].mountPoints, QStringList{"/Volumes/CCCOMA_X64FRE_EN-US_DV9"});
        QCOMPARE(fromXml[1].imagePath, QString("/tmp/other.dmg"));
        QVERIFY(fromXml[1].mountPoints.isEmpty());

        plist_t root = nullptr;
        plist_from_xml(xml.constData(), uint32_t(xml.size()), &root);
        QVERIFY(root);
        char *bin = nullptr;
        uint32_t length = 0;
        plist_to_bin(root, &bin, &length);
        plist_free(root);
        const QByteArray binary(bin, length);
        free(bin);
        QVERIFY(binary.startsWith("bplist"));
        const std::vector<AttachedImage> fromBinary = parseAttachedImages(binary);
        QCOMPARE(fromBinary.size(), fromXml.size());
        QCOMPARE(fromBinary[0].mountPoints, fromXml[0].mountPoints);
    }

    void unusableListsGiveNoRecords()
    {
        for (const char *output :
             {"", "hdiutil: info failed - no mounted images\n",
              "<plist version=\"1.0\"><dict><key>framework</key><string>1</string></dict></plist>",
              "<plist version=\"1.0\"><array><string>x</string></array></plist>"})
            QVERIFY2(parseAttachedImages(output).empty(), output);
    }

    void mountPointIsTheLastFieldOfTheWholeOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("mountPoint");
        QTest::newRow("macOS layout")
            << QByteArray("/dev/disk4          \tGUID_partition_scheme          \t\n"
                          "/dev/disk4s1        \tMicrosoft Basic Data           "
                          "\t/Volumes/CCCOMA_X64FRE_EN-US_DV9\n")
            << "/Volumes/CCCOMA_X64FRE_EN-US_DV9";
        QTest::newRow("spaces before the path")
            << QByteArray("/dev/fuse\t\t   /run/isoswm/My Volume \r\n") << "/run/isoswm/My Volume";
        QTest::newRow("no tab at all") << QByteArray("  /Volumes/X\n") << "/Volumes/X";
        QTest::newRow("final line empty field")
            << QByteArray("/dev/disk4\t/Volumes/A\n/dev/disk4s2\t\t\n") << "";
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("non-ASCII") << QByteArray("/dev/fuse\t\t/run/Gr\xc3\xbc\xc3\x9f"
                                                 "e\n")
                                   << QString::fromUtf8("/run/Grüße");
        QTest::newRow("invalid UTF-8") << QByteArray("/dev/disk4\t/Volumes/\xff\n") << QString();
    }

    void mountPointIsTheLastFieldOfTheWholeOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, mountPoint);
        const std::optional<QString> found = mountPointFromAttachOutput(output);
        // Nothing at all for bytes that are not UTF-8; an empty path otherwise.
        QCOMPARE(found.has_value(), !mountPoint.isNull());
        QVERIFY(!found || (*found == mountPoint && !found->isNull()));
    }

    // Saved output of wimsplit and genisoimage, fed in chunks that cut lines
    // anywhere, gives the same reports as fed whole; a tool that prints none
    // gives none.
    void progressReports_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("chunk");
        for (const int chunk : {1 << 20, 7, 1}) {
            QTest::addRow("wimsplit, chunks of %d", chunk) << saved("wimsplit-output.txt") << chunk;
            QTest::addRow("genisoimage, chunks of %d", chunk)
                << saved("genisoimage-output.txt") << chunk;
        }
        QTest::newRow("a tool that prints no progress")
            << QByteArray("Finished splitting \"install.wim\"\nCreating hybrid image...\n") << 5;
    }
    void progressReports()
    {
        QFETCH(QByteArray, output);
        QFETCH(int, chunk);
        ToolProgress::Lines lines;
        QList<ToolProgress::Bytes> split;
        QList<double> built;
        for (qsizetype at = 0; at < output.size(); at += chunk) {
            for (const QString &line : lines.feed(QString::fromUtf8(output.mid(at, chunk)))) {
                if (const auto bytes = ToolProgress::wimsplit(line))
                    split << *bytes;
                if (const auto percent = ToolProgress::genisoimage(line))
                    built << *percent;
            }
        }
        if (output.contains("Splitting WIM")) {
            QVERIFY(split.size() > 20);
            QCOMPARE(split.first().done, 0);
            QCOMPARE(split.last().done, qint64(300) << 20);
            QCOMPARE(split.last().total, qint64(300) << 20);
        } else if (output.contains("% done")) {
            QCOMPARE(built.size(), 19);
            QCOMPARE(built.first(), 3.25);
            QCOMPARE(built.last(), 61.68);
        } else {
            QVERIFY(split.isEmpty() && built.isEmpty());
        }
        QVERIFY(std::is_sorted(built.begin(), built.end()));
    }

    void detailReadsAsALine()
    {
        StageDetail d{StageDetail::Stage::Copy, 1'400'000'000, 4'600'000'000, 310e6, 10, 25, 35};
        QCOMPARE(d.summary(), QString("1.4 GB of 4.6 GB · 310 MB/s · about 10 s left"));
        QCOMPARE(d.overall(), 25 + 10 * float(1.4 / 4.6));
        d.done = 0, d.bytesPerSecond = 0, d.secondsLeft = -1, d.total = 0;
        QCOMPARE(d.summary(), QString("0 bytes"));
        QCOMPARE(d.fraction(), 0.0);
        QCOMPARE(StageDetail::formatBytes(999), QString("999 bytes"));
        QCOMPARE(StageDetail::formatBytes(999'960), QString("1.0 MB"));
        QCOMPARE(StageDetail::formatTimeLeft(3900), QString("about 1 h 5 min left"));
        QCOMPARE(StageDetail::formatTimeLeft(0), QString("about 1 s left"));
    }
};

QTEST_GUILESS_MAIN(TestToolOutput)
#include "tst_tool_output.moc"
