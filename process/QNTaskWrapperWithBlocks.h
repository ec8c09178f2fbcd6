#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <functional>

// Runs one child process without blocking the thread that starts it and reports
// its start, each chunk of standard output and standard error, and its end
// through four callbacks. Everything, callbacks included, happens on the thread
// that owns the runner. The child dies with us: it gets SIGTERM when this
// process goes away, however that happens.
class QNTaskWrapperWithBlocks : public QObject {
    Q_OBJECT
public:
    using StartBlock = std::function<void()>;
    using EndBlock = std::function<void()>;
    // One chunk decoded as UTF-8; a null string when the chunk is not valid UTF-8
    // by itself.
    using OutputBlock = std::function<void(const QString &text)>;

    // Element 0 of `arguments` is the program's absolute path, the rest are its
    // arguments. Nothing starts yet.
    QNTaskWrapperWithBlocks(StartBlock startBlock, EndBlock endBlock, OutputBlock outputBlock,
                            OutputBlock errorOutputBlock, QStringList arguments,
                            QObject *parent = nullptr);
    // A child still running is stopped; no callback runs any more.
    ~QNTaskWrapperWithBlocks() override;

    // Calls StartBlock, then launches the child. A program that cannot be
    // started ends the runner at once: the reason goes to ErrorOutputBlock and
    // EndBlock runs, with a non-zero terminationStatus.
    void startProcess();

    // Stops listening to the child, sends it SIGTERM and waits for it to go
    // (up to kStopGracePeriodMs, then SIGKILL), and calls EndBlock. Blocks the
    // calling thread for that long at most. Every call ends with EndBlock, also
    // on a runner that never started or has already ended.
    void stopProcess();

    // The child's exit status once it has ended: its exit code, 128 + signal
    // number when a signal killed it, 127 when it could not be started, 0 when
    // never started. While the child still runs, waits up to 5 s for it and
    // gives -999 if it is still running then.
    int terminationStatus();
    // How the child ended, for people: "exited with status 2", "was killed by
    // signal 11 (Segmentation fault)"; empty while it runs or before it started.
    QString terminationDescription() const;

    // Started and not yet ended.
    bool isProcessRunning() const { return m_state == State::Running; }

    static constexpr int kStopGracePeriodMs = 2000;

private:
    enum class State { Created, Running, Ended };

    void readStandardOutput();
    void readStandardError();
    void childFinished();
    void childFailedToStart();
    void noteExit();
    void end();
    void killChild();

    StartBlock m_startBlock;
    EndBlock m_endBlock;
    OutputBlock m_outputBlock;
    OutputBlock m_errorOutputBlock;
    QStringList m_arguments;
    QProcess *m_task = nullptr;
    State m_state = State::Created;
    int m_status = 0;
    int m_signal = 0; // the signal that ended the child, 0 for a normal exit
    bool m_startFailed = false;
};
