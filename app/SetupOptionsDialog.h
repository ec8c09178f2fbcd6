#pragma once

#include "SetupOptions.h"

#include <QDialog>

class QAction;
class QCheckBox;
class QDialogButtonBox;
class QLabel;
class QLineEdit;
class ViewController;

// "Windows Setup Options…": the options asked for, each off until chosen; an
// account name Windows would refuse says why, and OK stays off.
class SetupOptionsDialog : public QDialog {
    Q_OBJECT
public:
    SetupOptionsDialog(const SetupOptions &options, QWidget *parent = nullptr);
    SetupOptions options() const;

    // The menu item that opens it, the one-line summary beside the main
    // button; the choice is remembered from one start of the program to the next.
    static QAction *attach(ViewController *controller, QLabel *summary, QWidget *window);

private:
    void check();

    QCheckBox *m_hardware;
    QCheckBox *m_account;
    QLineEdit *m_name;
    QLabel *m_nameProblem;
    QCheckBox *m_privacy;
    QCheckBox *m_encryption;
    QCheckBox *m_regional;
    QDialogButtonBox *m_buttons;
};
