#include "MountOutput.h"

#include <QFile>
#include <QTest>
#include <plist/plist.h>

using namespace MountOutput;

static QByteArray savedInfo()
{
    QFile f(QStringLiteral(ISOSWM_TESTS_DIR "/data/hdiutil-info.plist"));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("missing saved output");
    return f.readAll();
}

class TestMountOutput : public QObject {
    Q_OBJECT
private slots:
    void attachedImagesFromXmlAndBinary()
    {
        const std::vector<AttachedImage> fromXml = parseAttachedImages(savedInfo());
        QCOMPARE(fromXml.size(), size_t(2));
        QCOMPARE(fromXml[0].imagePath, QString("/Users/me/Downloads/Win10_22H2_English_x64.iso"));
        QCOMPARE(fromXml[0].mountPoints, QStringList{"/Volumes/CCCOMA_X64FRE_EN-US_DV9"});
        QCOMPARE(fromXml[1].imagePath, QString("/tmp/other.dmg"));
        QVERIFY(fromXml[1].mountPoints.isEmpty());

        plist_t root = nullptr;
        const QByteArray xml = savedInfo();
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
        QVERIFY(parseAttachedImages(QByteArray()).empty());
        QVERIFY(parseAttachedImages("hdiutil: info failed - no mounted images\n").empty());
        QVERIFY(parseAttachedImages(
                    "<plist "
                    "version=\"1.0\"><dict><key>framework</key><string>1</string></dict></plist>")
                    .empty());
        QVERIFY(
            parseAttachedImages("<plist version=\"1.0\"><array><string>x</string></array></plist>")
                .empty());
    }

    void sameImageIgnoresLetterCaseOnly()
    {
        QVERIFY(isSameImage("/Users/Me/WIN10.ISO", "/users/me/win10.iso"));
        QVERIFY(!isSameImage("/Users/me/./win10.iso", "/Users/me/win10.iso"));
        QVERIFY(!isSameImage("/Users/me/win10.iso/", "/Users/me/win10.iso"));
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
    }

    void mountPointIsTheLastFieldOfTheWholeOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, mountPoint);
        const std::optional<QString> found = mountPointFromAttachOutput(output);
        QVERIFY(found.has_value());
        QCOMPARE(*found, mountPoint);
        QVERIFY(!found->isNull());
    }

    void invalidUtf8GivesNothing()
    {
        QVERIFY(!mountPointFromAttachOutput("/dev/disk4\t/Volumes/\xff\n").has_value());
    }
};

QTEST_GUILESS_MAIN(TestMountOutput)
#include "tst_mount_output.moc"
