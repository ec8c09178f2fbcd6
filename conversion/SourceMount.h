#pragma once

#include "ToolRun.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

// The mounted source image, as the mount step leaves it for the steps after
// it: where it is mounted, whether it still is, and its unmount.
class SourceMount : public QObject {
public:
    SourceMount(QString hdiutil, QString imagePath);

    const QString &imagePath() const { return m_imagePath; }
    const QString &path() const { return m_path; }
    bool attached() const { return m_attached; }
    void setAttached(const QString &path);

    // hdiutil unmount, tried again for a while when the volume is busy.
    using Unmounted = std::function<void(bool unmounted, const QString &reason)>;
    void unmount(bool force, Unmounted done, int attempt = 0);
    // Runs a disk tool; only one at a time is waited for.
    void runTool(const QString &program, const QStringList &arguments, ToolRun::Done done);
    // A cancelled run gives the tool in hand a moment to return, then stops it.
    void stopToolSoon();
    const QString &hdiutil() const { return m_hdiutil; }

private:
    QString m_hdiutil;
    QString m_imagePath;
    QString m_path;
    bool m_attached = false;
    QPointer<ToolRun> m_tool;
};
