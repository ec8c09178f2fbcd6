#pragma once

// Drives a ViewController against the fake disk tools and records everything it
// shows: applied status texts, progress values and titles, log lines, alerts
// and panels, in one ordered event list.

#include "Bundle.h"
#include "Log.h"
#include "ProcessFiles.h"
#include "ScriptedPrompts.h"
#include "ViewController.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMutex>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <deque>
#include <memory>

class Harness {
public:
    QTemporaryDir root;
    QString fakeDir, tmpDir, resources, volume, source, destination;
    ScriptedPrompts prompts;
    std::unique_ptr<ViewController> controller;
    QStringList events;
    QMutex mutex;
    std::function<void(const QString &)> onLog; // runs on the logging thread
    std::optional<bool> ended;

    explicit Harness(const QString &volumeName = "CCCOMA_X64FRE_EN-US_DV9")
    {
        fakeDir = root.filePath("fake");
        tmpDir = root.filePath("tmp");
        resources = root.filePath("resources");
        volume = root.filePath("volumes/" + volumeName);
        source = root.filePath("images/Win10_x64.iso");
        destination = root.filePath("out/Win10_x64.iso-split");
        for (const QString &d : {fakeDir, tmpDir, resources + "/tools/bin", volume,
                                 root.filePath("images"), root.filePath("out")})
            QDir().mkpath(d);
        QFile::link(QStringLiteral(ISOSWM_FAKES_DIR "/wimsplit"),
                    resources + "/tools/bin/wimsplit");
        writeFile(source, "an image");
        writeFile(fakeDir + "/attach.out",
                  "/dev/disk4\tGUID_partition_scheme\t\n/dev/disk4s1\tWindows_NTFS\t" +
                      volume.toUtf8() + "\n");
        makeWindowsTree(volume);

        qputenv("FAKE_DIR", QFile::encodeName(fakeDir));
        qputenv("TMPDIR", QFile::encodeName(tmpDir));
        Bundle::setResourcesPath(resources);
        Log::setEchoToStderr(false);
        Log::setSink([this](const QString &line) {
            {
                QMutexLocker lock(&mutex);
                events << "log:" + line;
            }
            if (onLog)
                onLog(line);
        });
        prompts.event = [this](const QString &e) { record(e); };

        controller = std::make_unique<ViewController>(&prompts);
        controller->setTools({QStringLiteral(ISOSWM_FAKES_DIR "/hdiutil"),
                              QStringLiteral(ISOSWM_FAKES_DIR "/diskutil")});
        ViewController *c = controller.get();
        QObject::connect(c, &ViewController::progressTextChanged,
                         [this, c] { record("text:" + c->progressText()); });
        QObject::connect(c, &ViewController::progressBarValueChanged,
                         [this, c] { record("value:" + QString::number(c->progressBarValue())); });
        QObject::connect(c, &ViewController::mainButtonTitleChanged,
                         [this, c] { record("title:" + c->mainButtonTitle()); });
        QObject::connect(c, &ViewController::conversionEnded, [this](bool ok) { ended = ok; });
        c->viewDidLoad();
        c->setIsoPath(source);
    }

    ~Harness()
    {
        controller.reset();
        Log::setSink({});
        Bundle::setResourcesPath({});
        // Fakes that hang are killed by the controller; this is a safety net.
        for (const QString &pidFile : QDir(fakeDir).entryList({"*.pid"})) {
            QFile f(fakeDir + "/" + pidFile);
            if (f.open(QIODevice::ReadOnly))
                ::kill(f.readAll().trimmed().toInt(), SIGKILL);
        }
    }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        f.write(bytes);
    }

    // A volume laid out like a Windows installation image, read-only like a
    // mounted one.
    static void makeWindowsTree(const QString &top)
    {
        writeFile(top + "/setup.exe", "MZ");
        writeFile(top + "/boot/bcd", "bcd");
        writeFile(top + "/efi/boot/bootx64.efi", "efi");
        writeFile(top + "/sources/install.wim", QByteArray(64 * 1024, 'w'));
        writeFile(top + "/sources/boot.wim", "boot");
        writeFile(top + "/support/logging/read me.txt", "text");
    }

    void record(const QString &e)
    {
        QMutexLocker lock(&mutex);
        events << e;
    }

    QStringList snapshot()
    {
        QMutexLocker lock(&mutex);
        return events;
    }

    QStringList matching(const QString &prefix)
    {
        QStringList out;
        for (const QString &e : snapshot())
            if (e.startsWith(prefix))
                out << e.mid(prefix.size());
        return out;
    }

    int count(const QString &e) { return snapshot().count(e); }

    int indexOf(const QString &e) { return snapshot().indexOf(e); }

    QStringList calls()
    {
        QFile f(fakeDir + "/calls");
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    void touch(const QString &name, const QByteArray &content = {})
    {
        writeFile(fakeDir + "/" + name, content);
    }

    // Presses the main button with the save panel answering `dest`.
    void start(const std::optional<QString> &dest)
    {
        prompts.saveAnswers.push_back(dest.value_or(QString()));
        controller->convertButtonPressed();
    }
    void start() { start(destination); }

    bool waitForEnd(int ms = 30000)
    {
        return QTest::qWaitFor([this] { return ended.has_value(); }, ms);
    }

    QStringList leftoverTemporaryFolders()
    {
        return QDir(tmpDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    QStringList destinationFolder()
    {
        return QDir(root.filePath("out"))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    static bool pidAlive(const QString &pidFile) { return processInPidFileAlive(pidFile); }

    // From the copy thread, once `when` says so for a logged line: press the
    // main button and wait until the main thread has taken the press. Returns a
    // flag that turns true if cleanup began while the copy thread was waiting.
    std::shared_ptr<std::atomic<bool>>
    cancelFromCopyThread(std::function<bool(const QString &)> when)
    {
        auto cleanupDuringCopy = std::make_shared<std::atomic<bool>>(false);
        auto copyWaiting = std::make_shared<std::atomic<bool>>(false);
        onLog = [this, when, cleanupDuringCopy, copyWaiting](const QString &line) {
            if (line.startsWith("Copying /") && when(line)) {
                *copyWaiting = true;
                QMetaObject::invokeMethod(
                    controller.get(), [this] { controller->convertButtonPressed(); },
                    Qt::BlockingQueuedConnection);
                *copyWaiting = false;
            }
            if (line == "cleaning up" && *copyWaiting)
                *cleanupDuringCopy = true;
        };
        return cleanupDuringCopy;
    }
};
