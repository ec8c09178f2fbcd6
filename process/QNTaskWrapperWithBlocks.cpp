#include "QNTaskWrapperWithBlocks.h"

#include "ChildProcess.h"

#include <QStringDecoder>
#include <QTimer>
#include <cstring>

namespace {

// One chunk on its own: a sequence cut in the middle of a character is invalid
// and gives a null string; nothing is carried over to the next chunk.
QString decodeChunk(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return QString();
    return text;
}

constexpr int kExitCannotStart = 127;
constexpr int kStillRunning = -999;

} // namespace

QNTaskWrapperWithBlocks::QNTaskWrapperWithBlocks(StartBlock startBlock, EndBlock endBlock,
                                                 OutputBlock outputBlock,
                                                 OutputBlock errorOutputBlock,
                                                 QStringList arguments, QObject *parent)
    : QObject(parent), m_startBlock(std::move(startBlock)), m_endBlock(std::move(endBlock)),
      m_outputBlock(std::move(outputBlock)), m_errorOutputBlock(std::move(errorOutputBlock)),
      m_arguments(std::move(arguments))
{}

QNTaskWrapperWithBlocks::~QNTaskWrapperWithBlocks()
{
    if (m_task) {
        m_task->disconnect(this);
        killChild();
    }
}

void QNTaskWrapperWithBlocks::startProcess()
{
    if (m_state != State::Created)
        return;
    m_state = State::Running;
    if (m_startBlock)
        m_startBlock();
    if (m_state != State::Running) // StartBlock stopped us
        return;

    if (m_arguments.isEmpty() || m_arguments.first().isEmpty()) {
        // Reported from the event loop, like any other end, never inside this call.
        QTimer::singleShot(0, this, [this] {
            if (m_state != State::Running)
                return;
            m_status = kExitCannotStart;
            m_startFailed = true;
            if (m_errorOutputBlock)
                m_errorOutputBlock(QStringLiteral("no program to run"));
            end();
        });
        return;
    }

    m_task = new QProcess(this);
    ChildProcess::dieWithParent(*m_task);
    m_task->setProgram(m_arguments.first());
    m_task->setArguments(m_arguments.mid(1));
    // The child never reads our own input.
    m_task->setStandardInputFile(QProcess::nullDevice());
    connect(m_task, &QProcess::readyReadStandardOutput, this,
            &QNTaskWrapperWithBlocks::readStandardOutput);
    connect(m_task, &QProcess::readyReadStandardError, this,
            &QNTaskWrapperWithBlocks::readStandardError);
    connect(m_task, &QProcess::finished, this, &QNTaskWrapperWithBlocks::childFinished);
    connect(m_task, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            QTimer::singleShot(0, this, &QNTaskWrapperWithBlocks::childFailedToStart);
    });
    m_task->start(QIODevice::ReadOnly);
}

void QNTaskWrapperWithBlocks::stopProcess()
{
    if (m_state == State::Running && m_task) {
        m_task->disconnect(this);
        killChild();
        noteExit();
    }
    end();
}

int QNTaskWrapperWithBlocks::terminationStatus()
{
    if (m_state == State::Running && m_task && m_task->state() != QProcess::NotRunning) {
        // waitForFinished delivers the end through childFinished when the child exits.
        if (!m_task->waitForFinished(5000))
            return kStillRunning;
    }
    if (m_state == State::Running)
        return kStillRunning;
    return m_status;
}

void QNTaskWrapperWithBlocks::readStandardOutput()
{
    const QByteArray chunk = m_task->readAllStandardOutput();
    if (!chunk.isEmpty() && m_outputBlock)
        m_outputBlock(decodeChunk(chunk));
}

void QNTaskWrapperWithBlocks::readStandardError()
{
    const QByteArray chunk = m_task->readAllStandardError();
    if (!chunk.isEmpty() && m_errorOutputBlock)
        m_errorOutputBlock(decodeChunk(chunk));
}

void QNTaskWrapperWithBlocks::childFinished()
{
    if (m_state != State::Running)
        return;
    // Whatever the child wrote before it exited still reaches the callbacks.
    readStandardOutput();
    readStandardError();
    noteExit();
    end();
}

void QNTaskWrapperWithBlocks::childFailedToStart()
{
    if (m_state != State::Running)
        return;
    m_status = kExitCannotStart;
    m_startFailed = true;
    const QString reason = m_task ? m_task->errorString() : QString();
    if (m_errorOutputBlock)
        m_errorOutputBlock(QStringLiteral("%1: %2").arg(m_arguments.value(0), reason));
    end();
}

void QNTaskWrapperWithBlocks::noteExit()
{
    // For a crash QProcess gives the signal number as the exit code.
    m_signal = m_task->exitStatus() == QProcess::CrashExit ? m_task->exitCode() : 0;
    m_status = m_signal ? 128 + m_signal : m_task->exitCode();
}

QString QNTaskWrapperWithBlocks::terminationDescription() const
{
    if (m_state != State::Ended)
        return {};
    if (m_startFailed)
        return QStringLiteral("could not be started");
    if (m_signal)
        return QStringLiteral("was killed by signal %1 (%2)")
            .arg(m_signal)
            .arg(QString::fromLocal8Bit(::strsignal(m_signal)));
    return QStringLiteral("exited with status %1").arg(m_status);
}

void QNTaskWrapperWithBlocks::end()
{
    m_state = State::Ended;
    if (m_task)
        m_task->disconnect(this);
    // The end callback may release this runner; nothing here is touched after it.
    EndBlock block = m_endBlock;
    if (block)
        block();
}

void QNTaskWrapperWithBlocks::killChild()
{
    if (!m_task || m_task->state() == QProcess::NotRunning)
        return;
    m_task->terminate();
    if (!m_task->waitForFinished(kStopGracePeriodMs)) {
        m_task->kill();
        m_task->waitForFinished(-1);
    }
}
