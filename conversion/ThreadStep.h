#pragma once

#include "RunContext.h"
#include "Step.h"
#include "Worker.h"

// A step whose work blocks (a copy, an export, a removal): it runs on a worker
// thread and asks keepGoing() as it goes; its result comes back to the main
// thread. The step is not gone before its worker is.
class ThreadStep : public Step {
public:
    using Work = std::function<std::optional<Error>(const std::function<bool()> &keepGoing)>;

    // A step that is all work: `work` on the worker thread, its error the step's.
    explicit ThreadStep(Work work = {}) : m_work(std::move(work)) {}

protected:
    void run() override;

    // Runs `work` on the worker thread, then `then` with its result here.
    // `readsSource` marks work that reads from the mounted source, which the
    // run watches for a file system that stops answering.
    template <typename Work_, typename Then>
    void inBackground(Work_ work, Then then, bool readsSource = false)
    {
        context().stallWatch().setReading(readsSource);
        m_worker.run(std::move(work), [this, then = std::move(then)](auto result) mutable {
            context().stallWatch().setReading(false);
            then(std::move(result));
        });
    }

private:
    Work m_work;
    Worker m_worker;
};
