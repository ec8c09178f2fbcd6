#pragma once

#include "RunValues.h"
#include "SetupOptions.h"
#include "ThreadStep.h"

// Windows Setup adjusted as the options ask, in two steps: the source is
// checked right after the inspection (it must not carry an answer file of its
// own, and its boot.wim must hold the hive to edit), and once the work
// folder is there the adjusted files are made in it, for the output to take
// in place of the source's. The source itself is never written.
class SetupCheckStep : public ThreadStep {
public:
    SetupCheckStep(SetupOptions options, const SourceCheck::Layout &layout, QString mountPath,
                   SetupPlan &plan)
        : m_options(std::move(options)), m_layout(layout), m_mountPath(std::move(mountPath)),
          m_plan(plan)
    {}

    // The entry `name` of `folder`, found without regard to case; empty when missing.
    static QString entryOf(const QString &folder, const QString &name);

protected:
    void run() override;

private:
    SetupOptions m_options;
    const SourceCheck::Layout &m_layout;
    QString m_mountPath;
    SetupPlan &m_plan;
};

class SetupStep : public ThreadStep {
public:
    SetupStep(SetupOptions options, QString sourcesName, QString workFolder, SetupPlan &plan)
        : m_options(std::move(options)), m_sourcesName(std::move(sourcesName)),
          m_workFolder(std::move(workFolder)), m_plan(plan)
    {}

    // The adjusted files moved into the staging copy `tree` over the source's.
    static std::optional<Error> moveInto(const SetupPlan &plan, const QString &tree);

protected:
    void run() override;

private:
    SetupOptions m_options;
    QString m_sourcesName;
    QString m_workFolder;
    SetupPlan &m_plan;
};
