#pragma once

#include "Pipeline.h"
#include "Prompts.h"
#include "RunContext.h"
#include "RunOptions.h"
#include "RunValues.h"
#include "StageDetail.h"

#include <QObject>
#include <functional>
#include <optional>

#include "QNTaskWrapperWithBlocks.h"

// One conversion of one image, from the mount to the cleanup: the steps of
// its pipeline (a new ISO image, or a USB installer), and what they made,
// undone when the run ends. Started once, it reports what it does through its
// signals and ends with finished(); a job that has finished is deleted, so
// nothing of it can reach the next one.
class Conversion : public QObject {
    Q_OBJECT
public:
    using Options = RunOptions;
    using Tools = ToolPaths;
    enum class Outcome { Succeeded, Failed, Cancelled };
    Q_ENUM(Outcome)

    Conversion(Options options, Tools tools, Prompts *prompts, QObject *parent = nullptr);
    ~Conversion() override;

    void start();
    // Stops the run at the next point it can: at once for a tool, within a
    // chunk for the copy, when the mount tool returns for the mount.
    void cancel();
    bool isRunning() const { return m_context.running(); }

signals:
    // The conversion state, in the order it changes.
    void runningChanged(bool running);
    void cancellingChanged(bool cancelling);
    void mountPathChanged(const QString &path);
    void temporaryDirectoryChanged(const QString &path);
    void stagingFolderChanged(const QString &path);
    void splitRunnerStarted(QNTaskWrapperWithBlocks *runner);
    void buildRunnerStarted(QNTaskWrapperWithBlocks *runner);
    // Status texts and milestones, to be applied later on the main thread.
    // `item` marks the name of an item being copied.
    void statusText(const QString &text, bool item);
    void milestone(float value);
    void detailChanged(const StageDetail &detail);
    // Something the user should know that does not stop the conversion.
    void notice(const QString &text);
    // The last step of cleanup: the window may take its idle look again.
    void cleanedUp();
    void finished(Conversion::Outcome outcome);

private:
    void forwardSignals();
    void ended(const StepEnd &end);
    void fail(const Error &error);
    // Ends a conversion, whichever way it went: the teardown undoes what the
    // steps made, and the window is brought back to idle. It runs once per
    // conversion; `then` follows its last step.
    void cleanup(std::function<void()> then = {});

    Options m_options;
    Prompts *m_prompts;
    RunContext m_context;
    RunValues m_values;
    Pipeline m_pipeline;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_cleaningUp = false;
    std::optional<Outcome> m_outcome;
};
