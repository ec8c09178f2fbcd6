#include "ProgressLine.h"

#include "ViewController.h"

#include <cmath>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr int kPlainLineIntervalMs = 1000;
constexpr int kBarWidth = 20;

int terminalWidth()
{
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

} // namespace

ProgressLine::ProgressLine(ViewController *controller, QObject *parent)
    : QObject(parent), m_controller(controller), m_terminal(::isatty(STDOUT_FILENO))
{
    m_pending.setSingleShot(true);
    connect(&m_pending, &QTimer::timeout, this, &ProgressLine::draw);
    for (auto signal :
         {&ViewController::progressTextChanged, &ViewController::progressBarValueChanged,
          &ViewController::stageDetailChanged})
        connect(controller, signal, this, &ProgressLine::changed);
}

void ProgressLine::changed()
{
    if (m_quiet)
        return;
    if (m_terminal || !m_sincePlainLine.isValid() ||
        m_sincePlainLine.elapsed() >= kPlainLineIntervalMs) {
        draw();
        return;
    }
    if (!m_pending.isActive())
        m_pending.start(int(kPlainLineIntervalMs - m_sincePlainLine.elapsed()));
}

QString ProgressLine::compose(int width) const
{
    const StageDetail detail = m_controller->stageDetail();
    const float value = m_controller->shownProgress();
    const int percent = int(std::floor(value));
    QString line = QStringLiteral("%1%").arg(percent, 3);
    if (m_terminal) {
        const int filled = percent * kBarWidth / 100;
        line = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
               QString(kBarWidth - filled, QLatin1Char('-')) + QStringLiteral("] ") + line;
    }
    // The figures first: a long item name is what gets cut on a narrow terminal.
    const QString summary = detail.summary();
    if (!summary.isEmpty())
        line += QStringLiteral("  ") + summary;
    line += QStringLiteral("  ") + m_controller->progressText();
    return width > 0 ? line.left(width - 1) : line;
}

void ProgressLine::draw()
{
    if (m_quiet)
        return;
    const QString line = compose(m_terminal ? terminalWidth() : 0);
    if (m_terminal) {
        std::printf("\r%s\x1b[K", line.toUtf8().constData());
        m_lineOpen = true;
    } else {
        if (line == m_lastLine)
            return;
        m_lastLine = line;
        m_sincePlainLine.start();
        std::printf("%s\n", line.toUtf8().constData());
    }
    std::fflush(stdout);
}

void ProgressLine::stopShowing()
{
    m_pending.stop();
    finishLine();
    m_quiet = true;
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
        draw();
}

void ProgressLine::finishLine()
{
    if (m_lineOpen) {
        std::printf("\n");
        std::fflush(stdout);
        m_lineOpen = false;
    }
}
