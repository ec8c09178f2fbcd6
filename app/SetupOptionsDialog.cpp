#include "SetupOptionsDialog.h"

#include "ViewController.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace {

SetupOptions remembered()
{
    const QSettings s;
    return {s.value(QStringLiteral("setup/skipHardwareChecks"), false).toBool(),
            s.value(QStringLiteral("setup/localAccount")).toString(),
            s.value(QStringLiteral("setup/skipPrivacyQuestions"), false).toBool(),
            s.value(QStringLiteral("setup/noDeviceEncryption"), false).toBool(),
            s.value(QStringLiteral("setup/regionalSettings"), false).toBool()};
}

void remember(const SetupOptions &o)
{
    QSettings s;
    s.setValue(QStringLiteral("setup/skipHardwareChecks"), o.skipHardwareChecks);
    s.setValue(QStringLiteral("setup/localAccount"), o.localAccount);
    s.setValue(QStringLiteral("setup/skipPrivacyQuestions"), o.skipPrivacyQuestions);
    s.setValue(QStringLiteral("setup/noDeviceEncryption"), o.noDeviceEncryption);
    s.setValue(QStringLiteral("setup/regionalSettings"), o.regionalSettingsFromThisComputer);
}

void apply(ViewController *controller, QLabel *summary, const SetupOptions &setup)
{
    RunOptions options = controller->options();
    options.setup = setup;
    controller->setOptions(options);
    summary->setText(setup.summary());
    summary->setVisible(setup.any());
}

} // namespace

SetupOptionsDialog::SetupOptionsDialog(const SetupOptions &o, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("Windows Setup Options"));
    auto *column = new QVBoxLayout(this);
    column->addWidget(new QLabel(tr("All are off unless chosen; they change only Windows "
                                    "Setup on the new image or the USB installer.")));
    m_hardware = new QCheckBox(tr("Skip the TPM, Secure Boot, memory and processor checks"));
    m_account = new QCheckBox(tr("Create a local administrator account, without a Microsoft "
                                 "account or network:"));
    m_name = new QLineEdit(o.localAccount);
    m_name->setObjectName(QStringLiteral("accountName"));
    m_nameProblem = new QLabel;
    auto *password = new QLabel(tr("No password is stored on the media: the account starts "
                                   "without one, and Windows asks for a new one at the "
                                   "second sign-in."));
    m_privacy = new QCheckBox(tr("Answer the privacy questions with the most private choice "
                                 "and skip the licence page"));
    m_encryption = new QCheckBox(tr("Do not turn on device encryption"));
    m_regional = new QCheckBox(tr("Language, keyboard, formats and time zone of this computer"));
    m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    for (QWidget *w :
         std::initializer_list<QWidget *>{m_hardware, m_account, m_name, m_nameProblem, password,
                                          m_privacy, m_encryption, m_regional, m_buttons})
        column->addWidget(w);
    password->setWordWrap(true);
    m_hardware->setChecked(o.skipHardwareChecks);
    m_account->setChecked(!o.localAccount.isEmpty());
    m_privacy->setChecked(o.skipPrivacyQuestions);
    m_encryption->setChecked(o.noDeviceEncryption);
    m_regional->setChecked(o.regionalSettingsFromThisComputer);
    connect(m_account, &QCheckBox::toggled, this, &SetupOptionsDialog::check);
    connect(m_name, &QLineEdit::textChanged, this, &SetupOptionsDialog::check);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    check();
}

void SetupOptionsDialog::check()
{
    m_name->setEnabled(m_account->isChecked());
    const auto problem =
        m_account->isChecked() ? SetupOptions::accountNameProblem(m_name->text()) : std::nullopt;
    m_nameProblem->setText(problem.value_or(QString()));
    m_nameProblem->setVisible(problem.has_value());
    m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!problem);
}

SetupOptions SetupOptionsDialog::options() const
{
    return {m_hardware->isChecked(), m_account->isChecked() ? m_name->text() : QString(),
            m_privacy->isChecked(), m_encryption->isChecked(), m_regional->isChecked()};
}

QAction *SetupOptionsDialog::attach(ViewController *controller, QLabel *summary, QWidget *window)
{
    SetupOptions start = remembered();
    if (SetupOptions::accountNameProblem(start.localAccount))
        start.localAccount.clear();
    apply(controller, summary, start);
    auto *action = new QAction(tr("Windows &Setup Options…"), window);
    action->setObjectName(QStringLiteral("setupOptionsAction"));
    QObject::connect(action, &QAction::triggered, window, [controller, summary, window] {
        SetupOptionsDialog dialog(controller->options().setup, window);
        if (dialog.exec() != QDialog::Accepted)
            return;
        remember(dialog.options());
        apply(controller, summary, dialog.options());
    });
    return action;
}
