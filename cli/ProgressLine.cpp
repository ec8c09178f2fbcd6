#include "ProgressLine.h"

#include "Terminal.h"
#include "ViewController.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kFullBar = 20;
constexpr int kShortBar = 10;
constexpr int kNameColumns = 16; // of a file name, before the figures give way

// SIGWINCH may only write a byte; the event loop redraws.
int g_resizePipe[2] = {-1, -1};

void onResize(int)
{
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(g_resizePipe[1], &byte, 1);
}

QString bar(int percent, int width)
{
    const int filled = percent * width / 100;
    return QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
           QString(width - filled, QLatin1Char('-')) + QLatin1Char(']');
}

// The stage's figures, each of which may be left out: done of total, rate, time left.
struct Figures {
    QString amounts, rate, timeLeft;

    explicit Figures(const StageDetail &d)
    {
        if (d.stage == StageDetail::Stage::None)
            return;
        amounts = d.total > 0 ? QCoreApplication::translate("Conversion", "%1 of %2")
                                    .arg(StageDetail::formatBytes(d.done),
                                         StageDetail::formatBytes(d.total))
                              : StageDetail::formatBytes(d.done);
        if (d.bytesPerSecond > 0)
            rate = QCoreApplication::translate("Conversion", "%1/s")
                       .arg(StageDetail::formatBytes(qint64(d.bytesPerSecond)));
        if (d.secondsLeft >= 0)
            timeLeft = StageDetail::formatTimeLeft(d.secondsLeft);
    }
};

// "copying " of the copy's "copying setup.exe", as translated.
QString copyingPrefix()
{
    return QCoreApplication::translate("Conversion", "copying %1")
        .section(QStringLiteral("%1"), 0, 0);
}

QString joined(const QStringList &parts)
{
    QStringList present = parts;
    present.removeAll(QString());
    return present.join(QStringLiteral(" · "));
}

} // namespace

ProgressLine::ProgressLine(ViewController *controller, QObject *parent)
    : QObject(parent), m_controller(controller), m_terminal(::isatty(STDOUT_FILENO)),
      m_width(Terminal::width(STDOUT_FILENO))
{
    for (auto signal :
         {&ViewController::progressTextChanged, &ViewController::progressBarValueChanged,
          &ViewController::stageDetailChanged})
        connect(controller, signal, this, &ProgressLine::changed);
    // A cancel (or a failure, after its alert) keeps the line as it stood, with
    // the "^C" the terminal put after it, before the stopped stages redraw it.
    connect(controller, &ViewController::isCancellingChanged, this, [this] {
        if (!m_controller->isCancelling())
            return;
        m_stopped = true;
        endLine();
    });
    if (!m_terminal || ::pipe2(g_resizePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_resized = new QSocketNotifier(g_resizePipe[0], QSocketNotifier::Read, this);
    connect(m_resized, &QSocketNotifier::activated, this, [this] {
        char byte;
        while (::read(g_resizePipe[0], &byte, 1) == 1) {
        }
        m_width = Terminal::width(STDOUT_FILENO);
        if (m_lineOpen)
            draw(compose(m_width));
    });
    struct sigaction action = {};
    action.sa_handler = onResize;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &action, nullptr);
}

ProgressLine::~ProgressLine()
{
    if (!m_resized)
        return;
    ::signal(SIGWINCH, SIG_DFL);
    ::close(g_resizePipe[0]);
    ::close(g_resizePipe[1]);
    g_resizePipe[0] = g_resizePipe[1] = -1;
}

bool ProgressLine::imageWritten() const
{
    // Only a success ends a run without cancelling it.
    return !m_controller->isRunning() && !m_stopped && m_controller->isWindingDown();
}

void ProgressLine::changed()
{
    // The cleanup's reset of the status, as a run winds down, is no stage.
    if (m_quiet || (!m_controller->isRunning() && m_controller->progressText().isEmpty()))
        return;
    if (m_terminal) {
        draw(compose(m_width));
        return;
    }
    // Piped: a line as each stage begins; the copy's next file is no new stage.
    const QString copying = copyingPrefix();
    QString stage = stageName();
    if (!copying.isEmpty() && stage.startsWith(copying))
        stage = copying;
    if (stage == m_lastStage)
        return;
    m_lastStage = stage;
    draw(compose(0));
}

QString ProgressLine::stageName() const
{
    const QString text = m_controller->progressText();
    // The mount and the look at the source have no status text of their own.
    return text.isEmpty() ? tr("Mounting ISO") : text;
}

int ProgressLine::percent() const
{
    return int(std::floor(m_controller->shownProgress()));
}

QString ProgressLine::compose(int width) const
{
    const QString text = stageName();
    const int value = percent();
    if (width <= 0)
        return text + QStringLiteral("  %1%").arg(value);
    // The copy names the file it is at: that name is shortened before any
    // figure goes, and it never changes the layout.
    const QString prefix = copyingPrefix();
    const bool item = !prefix.isEmpty() && text.startsWith(prefix);
    const QString stage = item ? prefix : text;
    const QString name = item ? text.mid(prefix.size()) : QString();
    const int nameRoom = std::min(Terminal::columns(name), kNameColumns);
    // The percent keeps its width, so the bar does not move as it grows.
    const QString percentText = QStringLiteral("  %1%").arg(value, 3);
    // From the whole line to the stage alone: the rate goes first, then the
    // bar (the percent says as much), the amounts, the time left.
    const Figures f(m_controller->stageDetail());
    const struct {
        int bar;
        QString figures;
    } layouts[] = {{kFullBar, joined({f.amounts, f.rate, f.timeLeft})},
                   {kFullBar, joined({f.amounts, f.timeLeft})},
                   {kShortBar, joined({f.amounts, f.timeLeft})},
                   {0, joined({f.amounts, f.timeLeft})},
                   {0, f.timeLeft},
                   {0, QString()}};
    for (const auto &layout : layouts) {
        QString tail = percentText;
        if (layout.bar > 0)
            tail += QLatin1Char(' ') + bar(value, layout.bar);
        if (!layout.figures.isEmpty())
            tail += QStringLiteral("  ") + layout.figures;
        // The last column stays free: a line that fills it wraps on some terminals.
        const int room = width - 1 - Terminal::columns(stage) - Terminal::columns(tail);
        if (room >= nameRoom)
            return stage + Terminal::elided(name, room) + tail;
    }
    // A terminal narrower than the stage's name: its end is cut, the percent kept.
    return Terminal::elided(text, width - 1 - Terminal::columns(percentText)) + percentText;
}

void ProgressLine::draw(const QString &line)
{
    if (m_terminal) {
        std::printf("\r%s\x1b[K", line.toUtf8().constData());
        m_lineOpen = true;
    } else {
        std::printf("%s\n", line.toUtf8().constData());
    }
    std::fflush(stdout);
}

void ProgressLine::stopShowing()
{
    if (!m_quiet && imageWritten()) {
        draw(tr("Done") + QStringLiteral("  100%") +
             (m_terminal ? QLatin1Char(' ') + bar(100, kFullBar) : QString()));
    }
    endLine();
    m_quiet = true;
}

void ProgressLine::endLine()
{
    if (m_lineOpen) {
        std::printf("\n");
        std::fflush(stdout);
        m_lineOpen = false;
    }
}

void ProgressLine::printAbove(const QString &text, bool toStderr)
{
    if (m_lineOpen) {
        std::printf("\r\x1b[K");
        std::fflush(stdout);
    }
    std::fprintf(toStderr ? stderr : stdout, "%s\n", text.toUtf8().constData());
    std::fflush(toStderr ? stderr : stdout);
    if (m_lineOpen && !m_quiet)
        draw(compose(m_width));
}

void ProgressLine::finish()
{
    if (m_lineOpen) {
        std::printf("\r\x1b[K");
        std::fflush(stdout);
        m_lineOpen = false;
    }
    m_quiet = true;
}
