#include "ConsolePrompts.h"

#include "Terminal.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

ConsolePrompts::ConsolePrompts(QString source, QString destination, bool replaceExisting)
    : m_source(std::move(source)), m_destination(std::move(destination)),
      m_replaceExisting(replaceExisting)
{}

void ConsolePrompts::beginOpenPanel(const OpenPanel &,
                                    std::function<void(std::optional<QString>)> completion)
{
    // Like a panel, the answer comes later, from the event loop.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [completion, source = m_source] { completion(source); },
        Qt::QueuedConnection);
}

std::optional<QString> ConsolePrompts::runSavePanel(const SavePanel &)
{
    // The save panel asks before replacing a file; here --force is the answer.
    if (QFileInfo::exists(m_destination) && !m_replaceExisting) {
        runAlert(
            QCoreApplication::translate("IsoswmCli", "“%1” already exists.").arg(m_destination),
            QCoreApplication::translate("IsoswmCli", "Use --force to replace it."));
        return std::nullopt;
    }
    return m_destination;
}

void ConsolePrompts::runAlert(const QString &message, const QString &informativeText,
                              const QString &details)
{
    if (beforeAlert)
        beforeAlert();
    Terminal::print(stderr, message);
    for (const QString &text : {informativeText, details}) {
        if (!text.isEmpty())
            Terminal::print(stderr, text, 2);
    }
}

void ConsolePrompts::runErrorAlert(const Error &error)
{
    runAlert(error.message, error.details);
}
