#pragma once

// Drives a ViewController against the fake disk tools and records everything it
// shows: applied status texts, progress values, titles and details, log lines,
// alerts and panels, in one ordered event list.

#include "Bundle.h"
#include "FakeVolume.h"
#include "Log.h"
#include "ScriptedPrompts.h"
#include "ViewController.h"

#include <QElapsedTimer>
#include <QMutex>
#include <memory>

struct DetailEvent {
    qint64 ms;
    StageDetail detail;
    QString text; // the status shown beside it
};

class Harness : public FakeVolume {
public:
    ScriptedPrompts prompts;
    std::unique_ptr<ViewController> controller;
    QStringList events;
    QList<DetailEvent> details;
    QList<float> bar; // where the bar stood after each change
    QMutex mutex;
    std::function<void(const QString &)> onLog; // runs on the logging thread
    std::optional<bool> ended;
    QElapsedTimer clock;

    explicit Harness(const QString &volumeName = "CCCOMA_X64FRE_EN-US_DV9") : FakeVolume(volumeName)
    {
        Bundle::setResourcesPath(resources);
        Log::setEchoToStderr(false);
        Log::setSink([this](const QString &line) {
            record("log:" + line);
            if (onLog)
                onLog(line);
        });
        prompts.event = [this](const QString &e) { record(e); };
        clock.start();

        controller = std::make_unique<ViewController>(&prompts);
        RunOptions options;
        options.tools = {QStringLiteral(ISOSWM_FAKES_DIR "/hdiutil"),
                         QStringLiteral(ISOSWM_FAKES_DIR "/diskutil")};
        controller->setOptions(options);
        ViewController *c = controller.get();
        QObject::connect(c, &ViewController::progressTextChanged,
                         [this, c] { record("text:" + c->progressText()); });
        QObject::connect(c, &ViewController::progressBarValueChanged, [this, c] {
            record("value:" + QString::number(c->progressBarValue()));
            bar << c->shownProgress();
        });
        QObject::connect(c, &ViewController::mainButtonTitleChanged,
                         [this, c] { record("title:" + c->mainButtonTitle()); });
        QObject::connect(c, &ViewController::stageDetailChanged, [this, c] {
            details.append({clock.elapsed(), c->stageDetail(), c->progressText()});
            bar << c->shownProgress();
        });
        QObject::connect(c, &ViewController::conversionEnded, [this](bool ok) { ended = ok; });
        c->viewDidLoad();
        c->setIsoPath(source);
    }

    ~Harness()
    {
        controller.reset();
        Log::setSink({});
        Bundle::setResourcesPath({});
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
    // The bar only goes back when a run is over, to 0.
    bool barNeverWentBack() const
    {
        for (qsizetype i = 1; i < bar.size(); ++i)
            if (bar[i] < bar[i - 1] && bar[i] != 0)
                return false;
        return true;
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
    // Presses the main button and waits for that conversion to end.
    bool convert()
    {
        ended.reset();
        start();
        return waitForEnd();
    }
};

// True when `needles` occur in `haystack` in this order (other entries between).
inline bool inOrder(const QStringList &haystack, const QStringList &needles)
{
    qsizetype at = 0;
    for (const QString &n : needles) {
        at = haystack.indexOf(n, at);
        if (at < 0)
            return false;
        ++at;
    }
    return true;
}

inline QStringList withoutRepeats(const QStringList &values)
{
    QStringList out;
    for (const QString &v : values)
        if (out.isEmpty() || out.last() != v)
            out << v;
    return out;
}
