#include "TemporaryFolderChoice.h"

#include "TemporaryFolders.h"
#include "ViewController.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>

namespace {
const QString kKey = QStringLiteral("conversion/temporaryFolder");
} // namespace

TemporaryFolderChoice::TemporaryFolderChoice(QMenu *menu, ViewController *controller,
                                             QWidget *window)
    : QObject(window), m_action(menu->addAction(QString())), m_controller(controller),
      m_window(window)
{
    m_action->setObjectName(QStringLiteral("temporaryFolderAction"));
    connect(m_action, &QAction::triggered, this, &TemporaryFolderChoice::choose);
    // A remembered folder that has gone since is forgotten.
    const QString remembered = QSettings().value(kKey).toString();
    use(remembered.isEmpty() || TemporaryFolders::refusal(remembered) ? QString() : remembered);
}

void TemporaryFolderChoice::choose()
{
    auto *dialog = new QFileDialog(m_window, tr("Choose a Folder for Temporary Files"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setDirectory(TemporaryFolders::resolve(m_controller->options().temporaryFolder));
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString &folder) {
        if (const std::optional<QString> why = TemporaryFolders::refusal(folder)) {
            QMessageBox::warning(m_window, tr("Temporary Folder"), *why);
            return;
        }
        QSettings().setValue(kKey, QFileInfo(folder).absoluteFilePath());
        use(QFileInfo(folder).absoluteFilePath());
    });
    dialog->open();
}

void TemporaryFolderChoice::use(const QString &folder)
{
    RunOptions options = m_controller->options();
    options.temporaryFolder = folder;
    m_controller->setOptions(options);
    m_action->setText(tr("&Temporary Folder… (%1)").arg(TemporaryFolders::resolve(folder)));
}
