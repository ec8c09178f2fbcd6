#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

// Copies the mounted volume into the staging folder, a folder of the
// volume's name in the temporary directory. A Windows image that has to be
// exported is left out: the export reads it from the mount.
class StagingCopyStep : public ThreadStep {
public:
    StagingCopyStep(QString mountPath, const SourceCheck::Layout &layout, WorkFolder &work)
        : m_mountPath(std::move(mountPath)), m_layout(layout), m_work(work)
    {}

protected:
    void run() override;

private:
    bool shouldCopyItem(const QString &sourcePath);

    QString m_mountPath;
    const SourceCheck::Layout &m_layout;
    WorkFolder &m_work;
};
