#pragma once

#include "Prompts.h"

#include <QCoreApplication>
#include <QPointer>
#include <QWidget>

// The window's answers to the conversion's questions: file dialogs and
// message boxes over the main window. Each panel opens in the folder it used
// last (kept in the settings); the save panel, until it has one, in the open
// panel's.
class WidgetPrompts : public Prompts {
    Q_DECLARE_TR_FUNCTIONS(WidgetPrompts)

public:
    explicit WidgetPrompts(QWidget *parent = nullptr) : m_parent(parent) {}
    void setParentWidget(QWidget *parent) { m_parent = parent; }

    void beginOpenPanel(const OpenPanel &panel,
                        std::function<void(std::optional<QString> path)> completion) override;
    std::optional<QString> runSavePanel(const SavePanel &panel) override;
    void runAlert(const QString &message, const QString &informativeText,
                  const QString &details = QString()) override;
    void runErrorAlert(const Error &error) override;
    bool runChoice(const QString &message, const QString &informativeText,
                   const QString &action) override;

    // A saved file must carry one of the allowed extensions; the first one is
    // appended when it does not (a name ending in ".iso-split" becomes
    // ".iso-split.iso").
    static QString withAllowedExtension(const QString &path, const QStringList &allowedTypes);
    // The text with no line break possible inside a path (a word with a slash
    // in it, or a quoted name that has one): its spaces become no-break spaces
    // and word joiners stand where a line could break. It reads the same.
    static QString keepingPathsWhole(const QString &text);
    // Dialog filters for the allowed extensions, in either letter case.
    static QStringList nameFilters(const QStringList &allowedTypes);

private:
    bool confirmReplace(const QString &path);

    QPointer<QWidget> m_parent;
};
