#pragma once

#include "Step.h"

#include <memory>
#include <optional>
#include <vector>

// Steps run one after the other, each over its stretch of the bar; the first
// that fails or stops ends the sequence, and a cancel goes to the step that
// runs. A step is made only when its turn comes, from the values the steps
// before it produced; a maker that gives nothing skips its turn.
class Sequence : public Step {
public:
    using Make = std::function<std::unique_ptr<Step>()>;

    struct Entry {
        Make make;
        std::function<Stretch()> stretch; // asked when the step's turn comes
        std::optional<float> before;      // a milestone as the step starts
        std::optional<float> after;       // a milestone once it is done
        Entry &milestoneBefore(float value) { return before = value, *this; }
        Entry &milestoneAfter(float value) { return after = value, *this; }
    };

    Entry &add(Make make, Stretch stretch = {});
    Entry &add(Make make, std::function<Stretch()> stretch);

protected:
    void run() override { next(); }
    void stop() override;

private:
    void next();
    void stepEnded(const StepEnd &end);

    std::vector<Entry> m_entries;
    size_t m_next = 0;
    // Every step made stays until the run has gone: one that ended may still
    // be on the stack that started the next.
    std::vector<std::unique_ptr<Step>> m_steps;
    Step *m_current = nullptr;
};

// Two steps side by side (the pieces verified while the image is built from
// them): the first failure stops the other, and the end comes once both have
// ended. The first step measures nothing while the second runs; when the
// second is done first, the bar becomes the first one's.
class Both : public Step {
public:
    Both(std::unique_ptr<Step> first, Stretch firstStretch, std::unique_ptr<Step> second,
         Stretch secondStretch);

protected:
    void run() override;
    void stop() override;

private:
    void ended(int which, const StepEnd &end);

    std::unique_ptr<Step> m_steps[2];
    Stretch m_stretches[2];
    bool m_running[2] = {false, false};
    std::optional<StepEnd> m_outcome; // the first failure or stop
};
