#pragma once

#include <QFile>
#include <csignal>

// Whether the process whose id a test child wrote to `pidFile` still runs.
inline bool processInPidFileAlive(const QString &pidFile)
{
    QFile f(pidFile);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const int pid = f.readAll().trimmed().toInt();
    return pid > 0 && ::kill(pid, 0) == 0;
}
