#include "Sequence.h"

#include "RunContext.h"

Sequence::Entry &Sequence::add(Make make, Stretch stretch)
{
    return add(std::move(make), [stretch] { return stretch; });
}

Sequence::Entry &Sequence::add(Make make, std::function<Stretch()> stretch)
{
    m_entries.push_back({std::move(make), std::move(stretch), {}, {}});
    return m_entries.back();
}

void Sequence::next()
{
    while (m_next < m_entries.size()) {
        const Entry &entry = m_entries[m_next++];
        std::unique_ptr<Step> step = entry.make();
        if (!step)
            continue;
        if (entry.before)
            context().reportMilestone(*entry.before);
        m_current = step.get();
        m_steps.push_back(std::move(step));
        const std::optional<float> after = entry.after;
        m_current->start(context(), entry.stretch(), [this, after](const StepEnd &end) {
            if (end.kind == StepEnd::Kind::Done && after)
                context().reportMilestone(*after);
            stepEnded(end);
        });
        return;
    }
    m_current = nullptr;
    end(StepEnd::done());
}

void Sequence::stepEnded(const StepEnd &end)
{
    m_current = nullptr;
    if (end.kind != StepEnd::Kind::Done)
        this->end(end);
    else if (!context().running())
        this->end(StepEnd::stopped());
    else
        next();
}

void Sequence::stop()
{
    if (m_current)
        m_current->cancel();
}

Both::Both(std::unique_ptr<Step> first, Stretch firstStretch, std::unique_ptr<Step> second,
           Stretch secondStretch)
    : m_steps{std::move(first), std::move(second)}, m_stretches{firstStretch, secondStretch}
{}

void Both::run()
{
    m_running[0] = m_running[1] = true;
    for (int which : {0, 1}) {
        if (m_outcome)
            break;
        m_steps[which]->start(context(), m_stretches[which],
                              [this, which](const StepEnd &end) { ended(which, end); });
    }
    if (m_outcome && m_running[1] && !m_running[0])
        ended(1, StepEnd::stopped()); // the second never started
}

void Both::ended(int which, const StepEnd &end)
{
    m_running[which] = false;
    const int other = 1 - which;
    if (end.kind != StepEnd::Kind::Done && !m_outcome) {
        m_outcome = end;
        if (m_running[other])
            m_steps[other]->cancel();
    } else if (end.kind == StepEnd::Kind::Done && which == 1 && m_running[0] && !m_outcome) {
        m_steps[0]->foreground();
    }
    if (m_running[0] || m_running[1])
        return;
    this->end(m_outcome.value_or(StepEnd::done()));
}

void Both::stop()
{
    for (int which : {0, 1})
        if (m_running[which])
            m_steps[which]->cancel();
}
