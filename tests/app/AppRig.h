#pragma once

// Shared by the application's tests: a window on a scripted controller, and a
// small volume that the fake disk tools attach so conversions really run.

#include "AppDelegate.h"
#include "Bundle.h"
#include "MainWindow.h"
#include "QNSOvalButton.h"
#include "ScriptedPrompts.h"
#include "ViewController.h"

#include <QtTest>

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

// A main window on its own controller, whose panels answer from a script.
struct Window {
    ScriptedPrompts prompts;
    ViewController controller{&prompts};
    AppDelegate delegate;
    MainWindow window{&controller, &delegate};
};

// A small volume folder that the fake disk tools attach, a temporary folder,
// resources whose wimsplit is the fake one, and a shown window on them all.
struct WindowRig {
    QTemporaryDir root;
    QString source = root.filePath("images/Win10_x64.iso");
    QString destination = root.filePath("Win10_x64.iso-split.iso");
    Window w;
    ScriptedPrompts &prompts = w.prompts;
    ViewController &controller = w.controller;
    MainWindow &window = w.window;

    WindowRig()
    {
        const QString volume = root.filePath("volumes/CCCOMA_X64FRE_EN-US_DV9");
        QDir().mkpath(root.filePath("tmp"));
        writeFile(source, "an image");
        writeFile(volume + "/setup.exe", "MZ");
        writeFile(volume + "/sources/install.wim", QByteArray(64 * 1024, 'w'));
        // Enough items that the copy is still going when a test presses Cancel.
        for (int i = 0; i < 40; ++i)
            writeFile(volume + QStringLiteral("/sources/file%1.dll").arg(i), "dll");
        writeFile(root.filePath("fake/attach.out"),
                  "/dev/disk4\tGUID_partition_scheme\t\n/dev/disk4s1\tWindows_NTFS\t" +
                      QFile::encodeName(volume) + "\n");
        QDir().mkpath(root.filePath("resources/tools/bin"));
        QFile::link(ISOSWM_FAKES_DIR "/wimsplit", root.filePath("resources/tools/bin/wimsplit"));
        Bundle::setResourcesPath(root.filePath("resources"));
        qputenv("FAKE_DIR", QFile::encodeName(root.filePath("fake")));
        qputenv("TMPDIR", QFile::encodeName(root.filePath("tmp")));
        controller.setTools({ISOSWM_FAKES_DIR "/hdiutil", ISOSWM_FAKES_DIR "/diskutil"});
        window.show();
    }
    ~WindowRig()
    {
        qunsetenv("TMPDIR");
        Bundle::setResourcesPath({});
    }

    // Presses the main button into a running conversion.
    bool startConversion()
    {
        controller.setIsoPath(source);
        prompts.saveAnswers.push_back(destination);
        QTest::mouseClick(window.mainButton(), Qt::LeftButton);
        return controller.isRunning();
    }
};
