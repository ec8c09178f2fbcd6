#pragma once

#include "ProgressMeter.h"
#include "Step.h"
#include "ToolProgress.h"

#include <QPointer>
#include <QStringList>

class QNTaskWrapperWithBlocks;

// A step that runs one tool through the process runner: its status as it
// starts, its progress from its output, its error text, and a failure in its
// own words (a full disk named by its folder).
class ToolStep : public Step {
protected:
    struct Tool {
        QString name;            // as the user knows it: "wimsplit"
        QStringList arguments;   // element 0 is the program
        const char *status = ""; // QT_TRANSLATE_NOOP("Conversion", ...), shown as it starts
        StageDetail::Stage stage = StageDetail::Stage::None;
        qint64 total = 0;
        QString failure; // what the user is told when it fails
        QString folder;  // where it writes
        bool readsSource = false;
        QString errorLine = QStringLiteral("error: %1"); // how its error text is logged
        std::function<void(ProgressMeter &)> poll;       // progress from what it wrote
    };

    // Starts the tool; the step ends when the tool has.
    void launch(Tool tool);
    // Each whole line of the tool's output, on the main thread.
    virtual void outputLine(const QString &line) = 0;
    // The runner as it starts, for the controller to hold.
    virtual void started(QNTaskWrapperWithBlocks *runner) = 0;
    // After a clean exit: what is wrong with what the tool made, if anything.
    virtual std::optional<Error> checkOutput() { return std::nullopt; }
    // The tool's failure as the user is told it.
    virtual Error failure() const;
    void stop() override;

private:
    void toolEnded();

    Tool m_tool;
    QPointer<QNTaskWrapperWithBlocks> m_runner;
    ToolProgress::Lines m_lines;
    QString m_errors;
};
