#pragma once

// Shared by the application's tests: a window on a scripted controller, and a
// small volume that the fake disk tools attach so conversions really run.

#include "AppDelegate.h"
#include "Bundle.h"
#include "FakeVolume.h"
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

// The fake volume that the fake disk tools attach, and a shown window on it.
struct WindowRig : FakeVolume {
    Window w;
    ScriptedPrompts &prompts = w.prompts;
    ViewController &controller = w.controller;
    MainWindow &window = w.window;

    WindowRig()
    {
        Bundle::setResourcesPath(resources);
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
