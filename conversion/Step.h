#pragma once

#include "Error.h"
#include "StageDetail.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <optional>

class ProgressMeter;
class RunContext;

// The stretch of the progress bar a step fills while it measures.
struct Stretch {
    float from = 0;
    float to = 0;
};

// How a step ended: done (the run goes on), failed with a reason, or stopped
// (the run was cancelled, or the step has told the user all there is to say).
struct StepEnd {
    enum class Kind { Done, Failed, Stopped };
    Kind kind = Kind::Done;
    Error error;

    static StepEnd done() { return {}; }
    static StepEnd failed(Error error) { return {Kind::Failed, std::move(error)}; }
    static StepEnd stopped() { return {Kind::Stopped, {}}; }
};

// A disk that fills up is named for what it is, not for the file that did not
// fit: "There is no space left in “FOLDER”."
Error fullDiskNamed(Error error, const QString &folder);

// One small part of a run. It is started once with the run's context, sees
// nothing of the run but that and the values handed to its constructor, and
// ends exactly once, from the main thread. start() never blocks.
class Step : public QObject {
public:
    using Finished = std::function<void(const StepEnd &end)>;

    ~Step() override = default;

    void start(RunContext &context, Stretch stretch, Finished finished);
    // The run, or whoever runs this step, wants it to stop: what it is
    // waiting for is stopped, and it ends soon after.
    void cancel();
    // Beside another step, this one measured nothing so far; now the bar is
    // its own (a verification that outlasts the build beside it).
    virtual void foreground() {}

protected:
    virtual void run() = 0;
    // What cancel() has to stop beyond the stop token: a tool, a call.
    virtual void stop() {}

    // The common end: a step told to stop stops, whatever its work said; a
    // failure fails the run; anything else goes on.
    void finish(const std::optional<Error> &error);
    void end(const StepEnd &end);

    RunContext &context() const { return *m_context; }
    // The stop token: false once the run or this step was told to stop. Any thread.
    bool keepGoing() const;
    // Measures `stage` over this step's stretch of the bar; `poll`, if
    // given, raises the count before each sample.
    void measure(StageDetail::Stage stage, qint64 total,
                 std::function<void(ProgressMeter &)> poll = {});
    bool ended() const { return m_ended; }

private:
    RunContext *m_context = nullptr;
    Stretch m_stretch;
    Finished m_finished;
    std::atomic<bool> m_cancelled{false};
    bool m_ended = false;
};
