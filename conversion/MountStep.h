#pragma once

#include "RunOptions.h"
#include "SourceMount.h"
#include "Step.h"

#include <memory>

// Attaches the source image afresh (earlier mounts of it that no living
// process holds are unmounted first) and records where it is mounted. The
// tools are waited for without holding the main thread; a cancel meanwhile
// takes effect when the tool in hand has returned.
class MountStep : public Step {
public:
    MountStep(QString image, ToolPaths tools, std::shared_ptr<SourceMount> &mounted);

protected:
    void run() override;
    void stop() override;

private:
    void unmountEarlierMounts(const QByteArray &list);
    void unmountNext(QStringList mountPoints);
    void attach();
    void attached(const QByteArray &output, const QString &reason);

    QString m_image;
    ToolPaths m_tools;
    std::shared_ptr<SourceMount> &m_mounted;
};
