#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QWidget;
class ViewController;

// The File menu's Temporary Folder… item: where the window's conversions
// make their large temporary files. The item shows the folder in use (the
// one chosen, else TMPDIR or /var/tmp), and the choice is kept from one
// start of the program to the next.
class TemporaryFolderChoice : public QObject {
    Q_OBJECT
public:
    TemporaryFolderChoice(QMenu *menu, ViewController *controller, QWidget *window);

private:
    void choose();
    void use(const QString &folder);

    QAction *m_action;
    ViewController *m_controller;
    QWidget *m_window;
};
