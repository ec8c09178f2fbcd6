#include "SourceMount.h"

#include <QTimer>

namespace {
constexpr int kUnmountAttempts = 4;
constexpr int kUnmountRetryMs = 500;
// How long a cancelled run waits for a disk tool before it stops the tool.
constexpr int kToolDeadlineMs = 10 * 1000;
} // namespace

SourceMount::SourceMount(QString hdiutil, QString imagePath)
    : m_hdiutil(std::move(hdiutil)), m_imagePath(std::move(imagePath))
{}

void SourceMount::setAttached(const QString &path)
{
    m_path = path;
    m_attached = true;
}

void SourceMount::runTool(const QString &program, const QStringList &arguments, ToolRun::Done done)
{
    m_tool = new ToolRun(
        program, arguments,
        [this, done = std::move(done)](const ToolRun::Result &result) {
            if (m_tool)
                m_tool->deleteLater();
            m_tool = nullptr;
            done(result);
        },
        this);
}

void SourceMount::stopToolSoon()
{
    if (m_tool)
        m_tool->terminateAfter(kToolDeadlineMs);
}

void SourceMount::unmount(bool force, Unmounted done, int attempt)
{
    QStringList arguments{QStringLiteral("unmount")};
    if (force)
        arguments << QStringLiteral("-force");
    arguments << m_path;
    runTool(m_hdiutil, arguments,
            [this, force, done = std::move(done), attempt](const ToolRun::Result &result) {
                if (result.status == 0) {
                    m_attached = false;
                    done(true, QString());
                } else if (attempt + 1 < kUnmountAttempts) {
                    // A file manager or an indexer may hold the volume for a moment.
                    QTimer::singleShot(kUnmountRetryMs, this, [this, force, done, attempt] {
                        unmount(force, done, attempt + 1);
                    });
                } else {
                    done(false, result.reason());
                }
            });
}
