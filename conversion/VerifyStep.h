#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

#include <atomic>

// The pieces are read back and every resource checked. Beside the build, it
// measures nothing until the build is done; alone, the bar is its own.
class VerifyStep : public ThreadStep {
public:
    VerifyStep(const SplitSet &split, bool alone) : m_split(split), m_shown(alone) {}

    void foreground() override;

protected:
    void run() override;

private:
    const SplitSet &m_split;
    std::atomic<bool> m_shown;
};
