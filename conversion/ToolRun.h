#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <functional>

// One run of a disk tool whose end the conversion waits for without holding
// the main thread: its standard output is collected, its standard error
// collected and logged line by line (an alert may show its reason; the terminal
// front end prints it there, once), and `done` runs once, from the event loop.
class ToolRun : public QObject {
    Q_OBJECT
public:
    struct Result {
        int status = -1;     // exit code, 128 + signal, or -1 when it could not start
        QString description; // "exited with status 1", "was killed by signal 9 (Killed)"
        QByteArray output;
        QByteArray errors;
        // The tool's own reason: the first line of its error text that says
        // something, else how it ended if that was a failure.
        QString reason() const;
    };
    using Done = std::function<void(const Result &)>;

    ToolRun(const QString &program, const QStringList &arguments, Done done,
            QObject *parent = nullptr);
    ~ToolRun() override;

    // SIGTERM: the tool is asked to give up (hdiutil attach then takes down
    // what it started).
    void terminate();
    // Gives the tool `ms` to return by itself, then terminates it.
    void terminateAfter(int ms);

private:
    void logErrors(bool ended);
    void finished();

    QProcess m_process;
    QTimer m_deadline;
    Done m_done;
    Result m_result;
    qsizetype m_logged = 0; // of m_result.errors
};
