#include "BootImages.h"
#include "BootReport.h"
#include "ElTorito.h"
#include "FakeVolume.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
    return bytes;
}

// A disk of 8 sectors whose partition table holds one partition, as
// genisoimage wants for hard disk emulation.
QByteArray hardDiskImage()
{
    QByteArray disk(8 * 512, '\0');
    const char partition[16] = {char(0x80), 1, 1, 0, 1, 0, 8, 0, 1, 0, 0, 0, 7, 0, 0, 0};
    disk.replace(446, 16, partition, 16);
    disk[510] = char(0x55);
    disk[511] = char(0xAA);
    return disk;
}

QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    const bool ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return ok ? QString() : program + ": " + QString::fromUtf8(process.readAllStandardError());
}

} // namespace

class TestBoot : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_tree = m_work.filePath("tree");
        FakeVolume::write(m_tree + "/boot/etfsboot.com", randomBytes(4096, 1));
        FakeVolume::write(m_tree + "/efi/microsoft/boot/efisys.bin", randomBytes(2048, 2));
        FakeVolume::write(m_tree + "/disk/hd.img", hardDiskImage());
        FakeVolume::write(m_tree + "/floppy.img", randomBytes(1440 * 1024, 3));
        FakeVolume::write(m_tree + "/sources/setup.txt", "setup");
        const QString boot = "-quiet -R -input-charset utf-8 -c boot.catalog "
                             "-b boot/etfsboot.com -no-emul-boot -boot-load-size 8 "
                             "-eltorito-alt-boot -e efi/microsoft/boot/efisys.bin -no-emul-boot "
                             "-eltorito-alt-boot -b disk/hd.img -hard-disk-boot "
                             "-eltorito-alt-boot -b floppy.img";
        m_iso = m_work.filePath("boot.iso");
        m_plainIso = m_work.filePath("plain.iso");
        QCOMPARE(run("genisoimage", boot.split(' ') << "-o" << m_iso << m_tree), QString());
        QCOMPARE(run("genisoimage", {"-quiet", "-o", m_plainIso, m_tree}), QString());
    }

    void savedCatalogs_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kept");         // bytes of it, -1 for all
        QTest::addColumn<QString>("patch");    // "offset=byte" in hex, comma-separated
        QTest::addColumn<QString>("expected"); // the entries with their sections, or "!" error
        const auto row = [](const char *tag, const char *file, int kept, const char *patch,
                            const QString &expected) {
            QTest::newRow(tag) << file << kept << patch << expected;
        };
        const QString sections = "BIOS y none 0x0000 8 35 s0; UEFI y none 0x0000 4 37 s1; "
                                 "UEFI y none 0x0000 8 38 s1; BIOS y none 0x0000 4 34 s2";
        row("UEFI only", "uefi.cat", -1, "", "UEFI y none 0x0000 4 32 s0");
        row("both, as on a Windows disc", "both.cat", -1, "",
            "BIOS y none 0x0000 8 887 s0; UEFI y none 0x0000 4 889 s1");
        row("a section of two entries", "sections.cat", -1, "", sections);
        // Its first entry now has one extension record, which is skipped.
        row("an entry with an extension", "sections.cat", -1, "42=1,61=20,80=44",
            QString(sections).remove("UEFI y none 0x0000 8 38 s1; "));
        row("cut in the first entries", "both.cat", 40, "",
            "!the boot catalog is truncated: 40 bytes");
        row("cut in a section header", "both.cat", 80, "",
            "!the boot catalog is truncated inside a section header");
        row("cut in a section's entries", "sections.cat", 128, "",
            "!the boot catalog is truncated inside section 1");
        row("cut before the last section", "sections.cat", 160, "",
            "!the boot catalog is truncated before its last section");
        row("damaged validation entry", "both.cat", -1, "4=ff",
            "!the boot catalog's validation entry is damaged");
        row("damaged section header", "both.cat", -1, "40=6e",
            "!the boot catalog is damaged: 0x6E at byte 64");
        row("damaged emulation type", "both.cat", -1, "61=0f",
            "!the boot catalog is damaged: an entry of section 1 has emulation type 0x0F");
    }
    void savedCatalogs()
    {
        QFETCH(QString, file);
        QFETCH(int, kept);
        QFETCH(QString, patch);
        QFETCH(QString, expected);
        QFile saved(QStringLiteral(ISOSWM_TESTS_DIR "/data/") + file);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QByteArray bytes = saved.readAll().left(kept < 0 ? 1 << 20 : kept);
        for (const QString &change : patch.split(',', Qt::SkipEmptyParts))
            bytes[change.section('=', 0, 0).toInt(nullptr, 16)] =
                char(change.section('=', 1).toInt(nullptr, 16));

        std::string error;
        const auto catalog = ElTorito::parseCatalog(
            {reinterpret_cast<const unsigned char *>(bytes.constData()), std::size_t(bytes.size())},
            &error);
        QStringList entries;
        for (const ElTorito::Entry &entry :
             catalog ? catalog->entries : std::vector<ElTorito::Entry>())
            entries << BootReport::describe(entry) + QStringLiteral(" s%1").arg(entry.section);
        QCOMPARE(catalog ? entries.join("; ")
                         : '!' + QString::fromStdString(error).left(expected.size() - 1),
                 expected);
    }

    void readerAgreesWithXorriso()
    {
        const QStringList entries = BootReport::fromReader(m_iso);
        QCOMPARE(entries, BootReport::fromXorriso(m_iso));
        QCOMPARE(entries.size(), 4);
        QVERIFY(entries[2].startsWith("BIOS y hd ") && entries[3].startsWith("BIOS y fd1.4 "));

        const ElTorito::CatalogReading read = ElTorito::readCatalog(m_iso.toStdString());
        const char *const files[] = {"boot/etfsboot.com", "efi/microsoft/boot/efisys.bin",
                                     "disk/hd.img", "floppy.img"};
        for (std::size_t i = 0; i < 4; ++i)
            QVERIFY2(BootReport::loadsFile(m_iso, read.catalog.entries[i], m_tree + '/' + files[i]),
                     files[i]);

        QCOMPARE(ElTorito::readCatalog(m_plainIso.toStdString()).outcome,
                 ElTorito::Outcome::NoBootRecord);
        const ElTorito::CatalogReading notIso =
            ElTorito::readCatalog((m_tree + "/floppy.img").toStdString());
        QCOMPARE(notIso.outcome, ElTorito::Outcome::Unreadable);
        QVERIFY2(notIso.error.find("not an ISO 9660 image") != std::string::npos,
                 notIso.error.c_str());
    }

    void plansTheSameEntries_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected"); // the arguments, or "!" and the notice's start
        const QString all = "-eltorito-boot boot/etfsboot.com -no-emul-boot -boot-load-size 8 "
                            "-eltorito-platform x86 "
                            "-eltorito-boot efi/microsoft/boot/efisys.bin -no-emul-boot "
                            "-boot-load-size 4 -eltorito-platform efi "
                            "-eltorito-boot disk/hd.img -hard-disk-boot -eltorito-platform x86 "
                            "-eltorito-boot floppy.img -eltorito-platform x86";
        QTest::newRow("the source's tree") << "" << all;
        QTest::newRow("an image moved")
            << "move" << QString(all).replace("boot/etfsboot.com", "tools/loader.bin");
        QTest::newRow("an image changed past its first sector")
            << "alter"
            << "!The image of the source's boot entry 1 (x86) is not a file of its tree; "
               "the new image is built without boot records.";
        QTest::newRow("no boot records") << "plain"
                                         << "!The source image has no boot records; the new";
    }
    void plansTheSameEntries()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        const QString tree = m_work.filePath(QTest::currentDataTag());
        QCOMPARE(run("cp", {"-a", m_tree, tree}), QString());
        const QString iso = change == "plain" ? m_plainIso : m_iso;
        if (change == "move") {
            QVERIFY(QDir().mkpath(tree + "/tools"));
            QVERIFY(QFile::rename(tree + "/boot/etfsboot.com", tree + "/tools/loader.bin"));
        } else if (change == "alter") {
            QFile file(tree + "/boot/etfsboot.com");
            QVERIFY(file.open(QIODevice::ReadWrite) && file.seek(3000) && file.write("!", 1) == 1);
        }

        const BootImages::Plan plan = BootImages::plan(iso, tree);
        QCOMPARE(plan.notice.isEmpty(), !plan.arguments.isEmpty());
        QCOMPARE(plan.arguments.isEmpty() ? '!' + plan.notice.left(expected.size() - 1)
                                          : plan.arguments.join(' '),
                 expected);
    }

private:
    QTemporaryDir m_work;
    QString m_tree, m_iso, m_plainIso;
};

QTEST_GUILESS_MAIN(TestBoot)
#include "tst_boot.moc"
