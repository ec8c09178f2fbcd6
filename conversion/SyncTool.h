#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// Runs a disk tool to its end on the calling thread, without serving the event
// loop. Its standard error stays ours; its standard output is returned.
struct SyncTool {
    QByteArray output;
    int exitStatus = -1; // -1 when it could not be started

    static SyncTool run(const QString &program, const QStringList &arguments)
    {
        SyncTool result;
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments, QIODevice::ReadOnly);
        if (!process.waitForStarted(-1))
            return result;
        process.waitForFinished(-1);
        result.output = process.readAllStandardOutput();
        if (process.exitStatus() == QProcess::NormalExit)
            result.exitStatus = process.exitCode();
        else
            result.exitStatus = 128 + process.exitCode();
        return result;
    }
};
