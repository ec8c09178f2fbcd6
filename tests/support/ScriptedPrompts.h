#pragma once

// Answers the controller's panels from a script and records what it was asked.

#include "Prompts.h"

#include <QCoreApplication>
#include <QList>
#include <QMetaObject>
#include <deque>

class ScriptedPrompts : public Prompts {
public:
    std::deque<std::optional<QString>> openAnswers; // nothing (or none left): dismissed
    std::deque<QString> saveAnswers;                // a null path dismisses the panel
    std::deque<bool> choiceAnswers;                 // none left: the alert is dismissed
    QList<OpenPanel> openPanels;
    QList<SavePanel> savePanels;
    QStringList alerts; // "alert:<message>|<informative>", "error:<message>|<details>"
    std::function<void(const QString &)> event; // told of each alert as it is recorded

    void beginOpenPanel(const OpenPanel &panel,
                        std::function<void(std::optional<QString>)> completion) override
    {
        openPanels << panel;
        QString answer; // null: dismissed
        if (!openAnswers.empty()) {
            answer = openAnswers.front().value_or(QString());
            openAnswers.pop_front();
        }
        // Answers later, like a real panel.
        QMetaObject::invokeMethod(
            qApp,
            [completion, answer] {
                completion(answer.isNull() ? std::nullopt : std::optional<QString>(answer));
            },
            Qt::QueuedConnection);
    }
    std::optional<QString> runSavePanel(const SavePanel &panel) override
    {
        savePanels << panel;
        if (saveAnswers.empty())
            return std::nullopt;
        const QString answer = saveAnswers.front();
        saveAnswers.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
    void runAlert(const QString &message, const QString &informativeText,
                  const QString &details) override
    {
        record("alert:" + message + "|" + informativeText +
               (details.isEmpty() ? QString() : "|" + details));
    }
    bool runChoice(const QString &message, const QString &informativeText,
                   const QString &action) override
    {
        record("choice:" + message + "|" + informativeText + "|" + action);
        const bool chosen = !choiceAnswers.empty() && choiceAnswers.front();
        if (!choiceAnswers.empty())
            choiceAnswers.pop_front();
        return chosen;
    }
    void runErrorAlert(const Error &error) override
    {
        record("error:" + error.message + "|" + error.details);
    }

private:
    void record(const QString &alert)
    {
        alerts << alert;
        if (event)
            event(alert);
    }
};
