#include "ToolRun.h"

#include "ChildProcess.h"

#include <QTimer>
#include <cstdio>
#include <cstring>

QString ToolRun::Result::reason() const
{
    for (const QByteArray &line : errors.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return status == 0 ? QString() : description;
}

ToolRun::ToolRun(const QString &program, const QStringList &arguments, Done done, QObject *parent)
    : QObject(parent), m_done(std::move(done))
{
    ChildProcess::dieWithParent(m_process);
    m_process.setStandardInputFile(QProcess::nullDevice());
    connect(&m_process, &QProcess::readyReadStandardError, this, &ToolRun::passOnErrors);
    connect(&m_process, &QProcess::finished, this, &ToolRun::finished);
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_result.description =
            QStringLiteral("could not be started: %1").arg(m_process.errorString());
        QTimer::singleShot(0, this, [this] {
            const Done done = m_done;
            done(Result(m_result));
        });
    });
    m_process.start(program, arguments, QIODevice::ReadOnly);
}

ToolRun::~ToolRun()
{
    m_process.disconnect(this);
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void ToolRun::terminate()
{
    m_process.terminate();
}

void ToolRun::passOnErrors()
{
    const QByteArray text = m_process.readAllStandardError();
    m_result.errors += text;
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

void ToolRun::finished()
{
    m_result.output = m_process.readAllStandardOutput();
    passOnErrors();
    const bool crashed = m_process.exitStatus() == QProcess::CrashExit;
    const int code = m_process.exitCode();
    m_result.status = crashed ? 128 + code : code;
    m_result.description = crashed ? QStringLiteral("was killed by signal %1 (%2)")
                                         .arg(code)
                                         .arg(QString::fromLocal8Bit(::strsignal(code)))
                                   : QStringLiteral("exited with status %1").arg(code);
    // The callback may delete this object; nothing of it is touched after.
    const Done done = m_done;
    done(Result(m_result));
}
