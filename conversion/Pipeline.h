#pragma once

#include "RunOptions.h"
#include "RunValues.h"
#include "Sequence.h"
#include "SplitStep.h"

#include <functional>
#include <memory>

class Prompts;

// A run's steps in order, and how it closes once they are all done and
// everything they made is cleaned up.
struct Pipeline {
    std::unique_ptr<Sequence> steps;
    float doneMilestone = 0;
    std::function<void()> completed; // the closing alert
};

namespace Pipelines {

// The new ISO image.
Pipeline iso(const RunOptions &options, RunValues &values, Prompts *prompts);
// The USB installer written to a drive.
Pipeline drive(const RunOptions &options, RunValues &values, Prompts *prompts);

// Both begin alike: the source mounted, and inspected before a byte is copied.
void mountAndInspect(Sequence &run, const RunOptions &options, RunValues &values);
// Windows Setup adjusted, when any of its options is on: the source checked
// right after the inspection, the adjusted files made once the work folder is.
void checkSetup(Sequence &run, const RunOptions &options, RunValues &values);
void adjustSetup(Sequence &run, const RunOptions &options, RunValues &values);
// On the direct path the pieces go into the temporary directory's "sources",
// split from the Windows image on the mount, or from its export there when
// it has to be exported first.
void exportFromTheMount(Sequence &run, RunValues &values, Stretch stretch);
// The split, then install.wim removed where it is a file of ours.
void splitAndRemove(Sequence &run, RunValues &values, Stretch stretch,
                    std::optional<float> milestone, SplitStep::PieceDone pieceDone = {});

template <typename S, typename... Args> std::unique_ptr<Step> make(Args &&...args)
{
    return std::make_unique<S>(std::forward<Args>(args)...);
}

} // namespace Pipelines
