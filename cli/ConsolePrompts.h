#pragma once

#include "Prompts.h"

#include <QObject>

// Answers the conversion's panels from the command line and shows its alerts
// on standard error.
class ConsolePrompts : public Prompts {
public:
    ConsolePrompts(QString source, QString destination, bool replaceExisting);

    void beginOpenPanel(const OpenPanel &panel,
                        std::function<void(std::optional<QString>)> completion) override;
    std::optional<QString> runSavePanel(const SavePanel &panel) override;
    void runAlert(const QString &message, const QString &informativeText,
                  const QString &details = QString()) override;
    void runErrorAlert(const Error &error) override;

    // Called before each alert, so a progress line can make room for it.
    std::function<void()> beforeAlert;

private:
    QString m_source;
    QString m_destination;
    bool m_replaceExisting;
};
