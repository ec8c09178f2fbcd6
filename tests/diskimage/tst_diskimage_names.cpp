// The name rules of the disk tools: mount folder names from volume labels,
// labels from folder names, and the UTF-8 handling beneath both; and how the
// tools tell the process a mount serves from a later one on the same pid.

#include "Names.h"
#include "ServerRecord.h"

#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {

enum Rule { FolderForLabel, LabelForFolder, Malformed };

void row(const char *tag, Rule rule, const QByteArray &input, const QByteArray &output = {})
{
    QTest::newRow(tag) << int(rule) << input << output;
}

} // namespace

class TestDiskImageNames : public QObject {
    Q_OBJECT

private slots:
    void nameRules_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        // A folder name for every label, none of the runtime folder's own dot names.
        row("only spaces", FolderForLabel, "   ", "Untitled");
        row("surrounding spaces", FolderForLabel, "  My Disc  ", "My Disc");
        row("slash", FolderForLabel, "A/B", "A_B");
        row("control characters", FolderForLabel, "tab\there\n", "tab_here_");
        row("dot name", FolderForLabel, ".state", "_.state");
        row("non-ASCII kept", FolderForLabel, "Übergröße 日本", "Übergröße 日本");
        row("malformed bytes", FolderForLabel, "\xff\xfeX\xc3", "__X_");
        // 301 bytes cut whole to 239, with room for a later mount's " NNN" within NAME_MAX.
        row("long", FolderForLabel, "a" + QString(150, QChar(0xE9)).toUtf8(),
            "a" + QString(119, QChar(0xE9)).toUtf8());
        // The 32 bytes of an ISO 9660 volume identifier, cut at a character boundary.
        row("exactly 32", LabelForFolder, QByteArray(32, 'A'), QByteArray(32, 'A'));
        row("40 ASCII", LabelForFolder, QByteArray(40, 'B'), QByteArray(32, 'B'));
        // 18 three-byte letters are 54 bytes: ten fit, the eleventh would be cut in two.
        row("three-byte letters", LabelForFolder, QString(18, QChar(0x65E5)).toUtf8(),
            QString(10, QChar(0x65E5)).toUtf8());
        row("empty", LabelForFolder, "", "Untitled");
        // Neither decoded nor taken as a UDF name.
        row("overlong NUL", Malformed, "\xc0\x80");
        row("surrogate", Malformed, "\xed\xa0\x80");
        row("truncated", Malformed, "ok\xe3\x81");
        row("beyond U+10FFFF", Malformed, "\xf4\x90\x80\x80");
        row("stray continuation", Malformed, "\x80");
    }
    void nameRules()
    {
        QFETCH(int, rule);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        const std::string text = input.toStdString();
        if (rule == Malformed)
            QVERIFY(!Names::decodeUtf8(text) && Names::udfNameProblem(text));
        else
            QCOMPARE(QByteArray::fromStdString(rule == FolderForLabel
                                                   ? Names::folderNameForLabel(text)
                                                   : Names::volumeLabelForFolder(text)),
                     output);
    }

    // A later process on the same pid, a malformed record, an ended one: none is the owner.
    void processesAreToldApartByStartTime()
    {
        const std::optional<ProcessIdentity> self = ProcessIdentity::of(getpid());
        QVERIFY(self && self->isRunning());
        QVERIFY(!(ProcessIdentity{self->pid, self->startTime + 1}.isRunning()));
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
