#include "WidgetPrompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace {

// One folder for both panels, as the platform's own panels share theirs.
const QString kLastFolderKey = QStringLiteral("panels/lastFolder");

QString lastFolder()
{
    const QString folder = QSettings().value(kLastFolderKey).toString();
    return QFileInfo(folder).isDir() ? folder : QString();
}

void rememberFolderOf(const QString &path)
{
    QSettings().setValue(kLastFolderKey, QFileInfo(path).absolutePath());
}

QString alertTitle()
{
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QCoreApplication::applicationName() : name;
}

void runMessageBox(QWidget *parent, QMessageBox::Icon icon, const QString &message,
                   const QString &informativeText, const QString &details = QString())
{
    QMessageBox box(parent);
    box.setIcon(icon);
    box.setWindowTitle(alertTitle());
    box.setText(message);
    box.setInformativeText(informativeText);
    box.setDetailedText(details);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

} // namespace

QStringList WidgetPrompts::nameFilters(const QStringList &allowedTypes)
{
    if (allowedTypes.isEmpty())
        return {tr("All files (*)")};
    QStringList patterns;
    for (const QString &type : allowedTypes)
        patterns << QStringLiteral("*.") + type.toLower() << QStringLiteral("*.") + type.toUpper();
    patterns.removeDuplicates();
    const QString kind = allowedTypes.size() == 1
                             ? tr("%1 images").arg(allowedTypes.first().toUpper())
                             : tr("Images");
    return {QStringLiteral("%1 (%2)").arg(kind, patterns.join(QLatin1Char(' ')))};
}

QString WidgetPrompts::withAllowedExtension(const QString &path, const QStringList &allowedTypes)
{
    if (allowedTypes.isEmpty() || path.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    for (const QString &type : allowedTypes) {
        if (extension == type.toLower())
            return path;
    }
    return path + QLatin1Char('.') + allowedTypes.first();
}

void WidgetPrompts::beginOpenPanel(const OpenPanel &panel,
                                   std::function<void(std::optional<QString>)> completion)
{
    auto *dialog = new QFileDialog(m_parent, panel.message);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("openPanel"));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setFileMode(panel.canChooseDirectories ? QFileDialog::Directory
                                                   : QFileDialog::ExistingFile);
    // Read-only browsing offers no way to make a new folder.
    dialog->setOption(QFileDialog::ReadOnly, !panel.canCreateDirectories);
    dialog->setNameFilters(nameFilters(panel.allowedFileTypes));
    if (const QString folder = lastFolder(); !folder.isEmpty())
        dialog->setDirectory(folder);
    // A panel of its own: the window stays usable while it is open.
    dialog->setWindowModality(Qt::NonModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty()) {
            rememberFolderOf(files.first());
            completion(files.first());
        } else {
            completion(std::nullopt);
        }
    });
    dialog->show();
}

std::optional<QString> WidgetPrompts::runSavePanel(const SavePanel &panel)
{
    QFileDialog dialog(m_parent, tr("Save"));
    dialog.setObjectName(QStringLiteral("savePanel"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The question about an existing file is asked below, once the extension
    // that will really be used is known.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setNameFilters(nameFilters(panel.allowedFileTypes));
    if (const QString folder = lastFolder(); !folder.isEmpty())
        dialog.setDirectory(folder);
    dialog.selectFile(panel.nameFieldStringValue);
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        const QStringList files = dialog.selectedFiles();
        if (files.isEmpty() || files.first().isEmpty())
            return std::nullopt;
        const QString path = withAllowedExtension(files.first(), panel.allowedFileTypes);
        if (QFileInfo(path).isDir())
            continue;
        if (QFileInfo::exists(path) && !confirmReplace(path)) {
            // Back to the panel, as a save panel does when replacing is declined.
            dialog.selectFile(QFileInfo(path).fileName());
            continue;
        }
        rememberFolderOf(path);
        return path;
    }
}

bool WidgetPrompts::confirmReplace(const QString &path)
{
    const QFileInfo info(path);
    QMessageBox box(m_parent);
    box.setObjectName(QStringLiteral("replaceQuestion"));
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(alertTitle());
    box.setText(tr("“%1” already exists. Do you want to replace it?").arg(info.fileName()));
    box.setInformativeText(tr("A file with the same name already exists in “%1”. Replacing it "
                              "will overwrite its current contents.")
                               .arg(info.absolutePath()));
    QPushButton *replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    QPushButton *cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == replace;
}

void WidgetPrompts::runAlert(const QString &message, const QString &informativeText,
                             const QString &details)
{
    runMessageBox(m_parent, QMessageBox::Information, message, informativeText, details);
}

void WidgetPrompts::runErrorAlert(const Error &error)
{
    runMessageBox(m_parent, QMessageBox::Warning, error.message, error.details);
}
