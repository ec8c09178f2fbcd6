#pragma once

#include "RunValues.h"
#include "Step.h"
#include "Worker.h"

// Makes the run's private temporary directory ("iso-XXXXXX") in the
// temporary folder, marked as this run's while it lives, and removes it, the
// staging copy with it, when the run ends.
class WorkFolderStep : public Step {
public:
    WorkFolderStep(QString parent, WorkFolder &work) : m_parent(std::move(parent)), m_work(work) {}

protected:
    void run() override;

private:
    void remove(std::function<void()> next);

    QString m_parent;
    WorkFolder &m_work;
    Worker m_worker;
};
