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
// undone when the run ends. It is the context its steps see, and reports
// what they do through its signals (the state in the order it changes;
// status texts and milestones, applied later on the main thread). Started
// once, it ends with finished(); a job that has finished is deleted, so
// nothing of it can reach the next one.
class Conversion : public RunContext {
    Q_OBJECT
public:
    using Options = RunOptions;
    enum class Outcome { Succeeded, Failed, Cancelled };
    Q_ENUM(Outcome)

    Conversion(Options options, Prompts *prompts, QObject *parent = nullptr);
    ~Conversion() override;

    void start();
    // Stops the run at the next point it can: at once for a tool, within a
    // chunk for the copy, when the mount tool returns for the mount.
    void cancel();
    bool isRunning() const { return running(); }

signals:
    // The last step of cleanup: the window may take its idle look again.
    void cleanedUp();
    void finished(Conversion::Outcome outcome);

private:
    void ended(const StepEnd &end);
    void fail(const Error &error);
    // Ends a conversion, whichever way it went: the teardown undoes what the
    // steps made, and the window is brought back to idle. It runs once per
    // conversion; `then` follows its last step.
    void cleanup(std::function<void()> then = {});

    Options m_options;
    RunValues m_values;
    Pipeline m_pipeline;
    bool m_started = false;
    bool m_cancelled = false;
    bool m_cleaningUp = false;
    std::optional<Outcome> m_outcome;
};
