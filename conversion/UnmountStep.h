#pragma once

#include "SourceMount.h"
#include "Step.h"

#include <memory>

// Nothing more is read from the source: it is unmounted. A volume that stays
// busy does not stop the run; the teardown detaches it by force.
class UnmountStep : public Step {
public:
    enum class Telling { Nothing, Log, LogAndStatus };
    UnmountStep(std::shared_ptr<SourceMount> source, Telling telling)
        : m_source(std::move(source)), m_telling(telling)
    {}

protected:
    void run() override;
    void stop() override { m_source->stopToolSoon(); }

private:
    std::shared_ptr<SourceMount> m_source;
    Telling m_telling;
};
