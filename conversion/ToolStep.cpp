#include "ToolStep.h"

#include "Log.h"
#include "QNTaskWrapperWithBlocks.h"
#include "RunContext.h"

namespace {

QString nullable(const QString &text)
{
    return text.isNull() ? QStringLiteral("(null)") : text;
}

} // namespace

void ToolStep::launch(Tool tool)
{
    m_tool = std::move(tool);
    const QPointer<ToolStep> self(this);
    auto *runner = new QNTaskWrapperWithBlocks(
        [self] {
            if (!self)
                return;
            self->context().report(self->m_tool.status);
            self->measure(self->m_tool.stage, self->m_tool.total, self->m_tool.poll);
        },
        [self] {
            if (self)
                self->toolEnded();
        },
        [self](const QString &text) {
            Log::write(QStringLiteral("output:%1").arg(nullable(text)));
            if (!self)
                return;
            for (const QString &line : self->m_lines.feed(text))
                self->outputLine(line);
        },
        [self, line = m_tool.errorLine](const QString &text) {
            Log::write(line.arg(nullable(text)));
            if (self)
                self->m_errors += text;
        },
        m_tool.arguments, this);
    m_runner = runner;
    started(runner);
    context().stallWatch().setReading(m_tool.readsSource);
    runner->startProcess();
}

void ToolStep::toolEnded()
{
    context().stallWatch().setReading(false);
    context().endMeasuring();
    if (!context().running() || !m_runner) {
        end(StepEnd::stopped());
        return;
    }
    // A tool's work counts only when it says so, and what it made is there.
    if (m_runner->terminationStatus() != 0) {
        finish(failure());
        return;
    }
    finish(checkOutput());
}

Error ToolStep::failure() const
{
    const QString text = m_errors.trimmed();
    if (!text.isEmpty())
        return fullDiskNamed({m_tool.failure, text}, m_tool.folder);
    return {m_tool.failure,
            QStringLiteral("%1 %2.").arg(m_tool.name, m_runner ? m_runner->terminationDescription()
                                                               : QStringLiteral("did not run"))};
}

void ToolStep::stop()
{
    if (m_runner && m_runner->isProcessRunning())
        m_runner->stopProcess();
}
