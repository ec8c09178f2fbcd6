#include "StickTools.h"

#include <QElapsedTimer>
#include <QStandardPaths>

namespace StickImage::Tools {

namespace {

struct Text {
    Q_DECLARE_TR_FUNCTIONS(StickImage)
};

constexpr int kToolTimeoutMs = 30 * 60 * 1000;
constexpr int kPollMs = 100;

// The system tools are in sbin, which a desktop user's PATH may lack.
QString tool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    return found.isEmpty() ? QStandardPaths::findExecutable(
                                 name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")})
                           : found;
}


// Asked while a tool runs; false stops it.
thread_local const KeepGoing *t_keepGoing = nullptr;
// Told when files are in.
thread_local const Placed *t_placed = nullptr;

} // namespace

Going::Going(const KeepGoing &keepGoing, const Placed &placed)
{
    t_keepGoing = keepGoing ? &keepGoing : nullptr;
    t_placed = placed ? &placed : nullptr;
}

Going::~Going()
{
    t_keepGoing = nullptr, t_placed = nullptr;
}

bool keepGoing()
{
    return !t_keepGoing || (*t_keepGoing)();
}

std::optional<Error> tellPlaced()
{
    return t_placed ? (*t_placed)() : std::nullopt;
}

bool start(QProcess &process, const QString &name, const QStringList &arguments, Ran *ran)
{
    const QString program = tool(name);
    if (program.isEmpty()) {
        ran->failure = Text::tr("The tool “%1” is missing.").arg(name);
        return false;
    }
    // mtools turns names into long FAT names through the locale's character set.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("MTOOLS_SKIP_CHECK"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (process.waitForStarted())
        return true;
    ran->failure = program + QStringLiteral(": ") + process.errorString();
    return false;
}

Ran run(const QString &name, const QStringList &arguments, const QByteArray &input)
{
    Ran ran;
    QProcess process;
    if (!start(process, name, arguments, &ran))
        return ran;
    process.write(input);
    process.closeWriteChannel();
    wait(process, name, &ran);
    return ran;
}

void wait(QProcess &process, const QString &name, Ran *ran)
{
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(kPollMs)) {
        const bool stopped = !keepGoing();
        if (!stopped && clock.elapsed() < kToolTimeoutMs && process.state() != QProcess::NotRunning)
            continue;
        process.kill();
        process.waitForFinished();
        ran->failure =
            stopped ? Text::tr("Stopped.") : Text::tr("%1 did not finish.").arg(name);
        ran->stopped = stopped;
        return;
    }
    ran->out = process.readAllStandardOutput();
    ran->ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!ran->ok)
        ran->failure = name + QStringLiteral(": ") +
                       QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
}

Error failed(const Ran &ran)
{
    if (ran.stopped)
        return {Text::tr("The USB installer was not finished."), ran.failure, ECANCELED};
    return {Text::tr("The USB installer could not be built."), ran.failure};
}

QString inside(const QString &image)
{
    return image + QStringLiteral("@@") + QString::number(kPartitionOffset);
}

} // namespace StickImage::Tools
