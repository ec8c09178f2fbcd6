// The name rules of the disk tools: mount folder names from volume labels,
// labels from folder names, and the UTF-8 handling beneath both; and how the
// tools tell the process a mount serves from a later one on the same pid.

#include "Names.h"
#include "ServerRecord.h"

#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

class TestDiskImageNames : public QObject {
    Q_OBJECT

private slots:
    void folderNameForLabel_data()
    {
        QTest::addColumn<QByteArray>("label");
        QTest::addColumn<QByteArray>("folder");
        QTest::newRow("windows label")
            << QByteArray("CCCOMA_X64FRE_EN-US_DV9") << QByteArray("CCCOMA_X64FRE_EN-US_DV9");
        QTest::newRow("empty") << QByteArray() << QByteArray("Untitled");
        QTest::newRow("only spaces") << QByteArray("   ") << QByteArray("Untitled");
        QTest::newRow("surrounding spaces") << QByteArray("  My Disc  ") << QByteArray("My Disc");
        QTest::newRow("slash") << QByteArray("A/B") << QByteArray("A_B");
        QTest::newRow("control characters") << QByteArray("tab\there\n") << QByteArray("tab_here_");
        QTest::newRow("dot name") << QByteArray(".state") << QByteArray("_.state");
        QTest::newRow("dot dot") << QByteArray("..") << QByteArray("_..");
        QTest::newRow("non-ASCII kept")
            << QByteArray("Übergröße 日本") << QByteArray("Übergröße 日本");
        QTest::newRow("malformed bytes") << QByteArray("\xff\xfeX\xc3") << QByteArray("__X_");
    }

    void folderNameForLabel()
    {
        QFETCH(QByteArray, label);
        QFETCH(QByteArray, folder);
        QCOMPARE(QByteArray::fromStdString(Names::folderNameForLabel(label.toStdString())), folder);
    }

    void folderNamesStayShortAndWholeAndCountUp()
    {
        // 301 bytes: one ASCII letter and 150 two-byte letters.
        const std::string label = "a" + QString(150, QChar(0xE9)).toStdString();
        const std::string folder = Names::folderNameForLabel(label);
        QVERIFY(folder.size() <= 240 && folder.size() >= 238);
        QVERIFY(Names::decodeUtf8(folder).has_value());
        // Room left for the suffix of a later mount within NAME_MAX.
        QVERIFY(Names::candidateFolderName(folder, 999).size() <= 255);
        QCOMPARE(Names::candidateFolderName("DISC", 0), std::string("DISC"));
        QCOMPARE(Names::candidateFolderName("DISC", 12), std::string("DISC 12"));
    }

    void volumeLabelCutsAtCharacterBoundary_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("label");
        QTest::newRow("fits") << QString("CCCOMA_X64FRE_EN-US_DV9")
                              << QString("CCCOMA_X64FRE_EN-US_DV9");
        QTest::newRow("exactly 32") << QString(32, QChar('A')) << QString(32, QChar('A'));
        QTest::newRow("40 ASCII") << QString(40, QChar('B')) << QString(32, QChar('B'));
        // 18 three-byte letters are 54 bytes: ten fit, the eleventh would be cut in two.
        QTest::newRow("three-byte letters")
            << QString(18, QChar(0x65E5)) << QString(10, QChar(0x65E5));
        QTest::newRow("empty") << QString() << QString("Untitled");
    }

    void volumeLabelCutsAtCharacterBoundary()
    {
        QFETCH(QString, folder);
        QFETCH(QString, label);
        QCOMPARE(QString::fromStdString(Names::volumeLabelForFolder(folder.toStdString())), label);
    }

    void malformedUtf8IsRejected_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("overlong NUL") << QByteArray("\xc0\x80", 2);
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80");
        QTest::newRow("truncated") << QByteArray("ok\xe3\x81");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xf4\x90\x80\x80");
        QTest::newRow("stray continuation") << QByteArray("\x80");
    }

    void malformedUtf8IsRejected()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!Names::decodeUtf8(bytes.toStdString()).has_value());
        QVERIFY(Names::udfNameProblem(bytes.toStdString()).has_value());
    }

    void processesAreToldApartByStartTime()
    {
        const std::optional<ProcessIdentity> self = ProcessIdentity::of(getpid());
        QVERIFY(self && self->isRunning());
        QVERIFY(!(ProcessIdentity{self->pid, self->startTime + 1}.isRunning())); // a later one
        const ServerRecord written{*self, ProcessIdentity{1, 2}};
        const std::optional<ServerRecord> read = ServerRecord::parse(written.text());
        QVERIFY(read && read->server == *self && read->owner == written.owner);
        QVERIFY(!ServerRecord::parse("server 12 x\n") && !ServerRecord::parse("owner 1 2\n"));
        const pid_t child = fork();
        if (child == 0)
            _exit(0);
        QTRY_VERIFY(!ProcessIdentity::of(child)); // a zombie has ended
        waitpid(child, nullptr, 0);
    }
};

QTEST_GUILESS_MAIN(TestDiskImageNames)
#include "tst_diskimage_names.moc"
