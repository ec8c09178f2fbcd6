#include "ToolRun.h"

#include "ChildProcess.h"
#include "Log.h"

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
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { logErrors(false); });
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

void ToolRun::terminateAfter(int ms)
{
    if (m_deadline.isActive())
        return;
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        Log::write(QStringLiteral("the disk tool did not answer in time; stopping it"));
        terminate();
    });
    m_deadline.start(ms);
}

void ToolRun::logErrors(bool ended)
{
    m_result.errors += m_process.readAllStandardError();
    // Whole lines as they come, and what is left once the tool has ended.
    while (m_logged < m_result.errors.size()) {
        qsizetype end = m_result.errors.indexOf('\n', m_logged);
        if (end < 0 && !ended)
            return;
        if (end < 0)
            end = m_result.errors.size();
        const QString line =
            QString::fromUtf8(m_result.errors.mid(m_logged, end - m_logged)).trimmed();
        if (!line.isEmpty())
            Log::write(line);
        m_logged = end + 1;
    }
}

void ToolRun::finished()
{
    m_deadline.stop();
    m_result.output = m_process.readAllStandardOutput();
    logErrors(true);
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
