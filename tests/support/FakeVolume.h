#pragma once

// A folder laid out like a mounted Windows installation image, and the scenario
// folder of the fake disk tools (tests/fakes) that "attach" it. Shared by the
// controller, terminal front end and window tests; its file helpers by others.

#include "ProcessFiles.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

class FakeVolume {
public:
    QTemporaryDir root;
    QString fakeDir = root.filePath("fake");
    QString tmpDir = root.filePath("tmp");
    QString resources = root.filePath("resources");
    QString source = root.filePath("images/Win10_x64.iso");
    QString destination = root.filePath("out/Win10_x64.iso-split");
    QString volume;

    explicit FakeVolume(const QString &volumeName = "CCCOMA_X64FRE_EN-US_DV9")
        : volume(root.filePath("volumes/" + volumeName))
    {
        for (const QString &d : {fakeDir, tmpDir, resources + "/tools/bin", volume,
                                 root.filePath("images"), root.filePath("out")})
            QDir().mkpath(d);
        QFile::link(QStringLiteral(ISOSWM_FAKES_DIR "/wimsplit"),
                    resources + "/tools/bin/wimsplit");
        write(source, "an image");
        write(fakeDir + "/attach.out", "/dev/disk4\tGUID_partition_scheme\t\n/dev/disk4s1\t"
                                       "Windows_NTFS\t" +
                                           QFile::encodeName(volume) + "\n");
        write(volume + "/setup.exe", "MZ");
        write(volume + "/boot/bcd", "bcd");
        write(volume + "/efi/boot/bootx64.efi", "efi");
        write(volume + "/sources/boot.wim", "boot");
        write(volume + "/support/logging/read me.txt", "text");
        QVERIFY(QFile::copy(sampleWim(), volume + "/sources/install.wim"));
        qputenv("FAKE_DIR", QFile::encodeName(fakeDir));
        qputenv("TMPDIR", QFile::encodeName(tmpDir));
        // The fake wimsplit cuts this small image into pieces of 1 MiB, so a
        // conversion makes install.swm, install2.swm and install3.swm.
        qputenv("FAKE_PART_MIB", "1");
    }

    ~FakeVolume()
    {
        // Fakes that hang are stopped by the code under test; this is a safety net.
        for (const QString &pidFile : QDir(fakeDir).entryList({"*.pid"})) {
            QFile f(fakeDir + "/" + pidFile);
            if (f.open(QIODevice::ReadOnly))
                ::kill(f.readAll().trimmed().toInt(), SIGKILL);
        }
        QProcess::execute("chmod", {"-R", "u+rwx", root.path()});
    }

    static void write(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }

    // A real, uncompressed WIM of 2.5 MiB of random data, made once per test program.
    static QString sampleWim()
    {
        static QTemporaryDir folder;
        const QString wim = folder.filePath("install.wim");
        if (!QFile::exists(wim)) {
            QByteArray data(2560 * 1024, Qt::Uninitialized);
            QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(data.data()),
                                          data.size() / 4);
            write(folder.filePath("tree/Windows/System32/payload.bin"), data);
            write(folder.filePath("tree/Windows/readme.txt"), "Windows sample image\n");
            QProcess capture;
            capture.setStandardOutputFile(QProcess::nullDevice());
            capture.start("wimcapture",
                          {folder.filePath("tree"), wim, "Windows 10 Pro", "--compress=none"});
            capture.waitForFinished();
        }
        return wim;
    }

    // Creates or replaces a scenario file of the fakes.
    void touch(const QString &name, const QByteArray &content = {})
    {
        write(fakeDir + "/" + name, content);
    }

    // Each fake tool run, "tool\targ\targ...", in order.
    QStringList calls() const
    {
        QFile f(fakeDir + "/calls");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QStringList callsOf(const QString &tool) const
    {
        return calls().filter(QRegularExpression("^" + tool + "\t"));
    }

    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                      QDir::System);
    }
    QStringList leftoverTemporaryFolders() const { return entries(tmpDir); }
    QStringList destinationFolder() const { return entries(root.filePath("out")); }

    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};
