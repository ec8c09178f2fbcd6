#include "WidgetPrompts.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTextBoundaryFinder>
#include <QTreeView>

namespace {

// Each panel keeps its own folder: the one a source was picked in is not the
// one an image was last saved to.
const QString kOpenFolderKey = QStringLiteral("panels/openFolder");
const QString kSaveFolderKey = QStringLiteral("panels/saveFolder");

QString rememberedFolder(const QString &key)
{
    const QString folder = QSettings().value(key).toString();
    return QFileInfo(folder).isDir() ? folder : QString();
}

void rememberFolderOf(const QString &key, const QString &path)
{
    QSettings().setValue(key, QFileInfo(path).absolutePath());
}

// Opens in `folder`, or else in the home folder, never in the one the dialog
// last visited (which Qt shares among all its dialogs). Room for the widest
// size ("1,023.99 GiB") and date: Qt makes those columns as wide as "128.88 GB"
// and "12/29/99 02:02PM", which cuts the sizes and dates it shows in their middle.
void prepare(QFileDialog *dialog, const QString &folder)
{
    dialog->setDirectory(folder.isEmpty() ? QDir::homePath() : folder);
    dialog->resize(dialog->sizeHint().expandedTo({800, 460}));
    auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    if (!view)
        return;
    const QFontMetrics metrics(view->font());
    const QLocale locale = QLocale::system();
    const auto fit = [&](int column, const QString &widest) {
        view->header()->resizeSection(column, metrics.horizontalAdvance(widest) +
                                                  3 * metrics.averageCharWidth());
    };
    fit(1, locale.formattedDataSize(qint64(1023.99 * (1 << 30))));
    fit(3, locale.toString(QDateTime({2028, 12, 28}, {23, 58}), QLocale::ShortFormat));
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
    box.setText(WidgetPrompts::keepingPathsWhole(message));
    box.setInformativeText(WidgetPrompts::keepingPathsWhole(informativeText));
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

QString WidgetPrompts::keepingPathsWhole(const QString &text)
{
    // A quoted name, spaces and all, or a word with a slash in it.
    static const QRegularExpression path(
        QStringLiteral("“[^”]*/[^”]*”|[^\\s“”()\\[\\]]*/[^\\s“”()\\[\\]]*"));
    QString out;
    qsizetype from = 0;
    for (const QRegularExpressionMatch &m : path.globalMatch(text)) {
        QString whole = m.captured().replace(QLatin1Char(' '), QChar(QChar::Nbsp));
        // A word joiner at each place a line could break inside it; elsewhere the
        // path is left as it is, so that what is copied from the alert still works.
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, whole);
        breaks.toEnd();
        for (qsizetype at; (at = breaks.toPreviousBoundary()) > 0;)
            whole.insert(at, QChar(0x2060));
        out += text.mid(from, m.capturedStart() - from) + whole;
        from = m.capturedEnd();
    }
    return out + text.mid(from);
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
    prepare(dialog, rememberedFolder(kOpenFolderKey));
    // A panel of its own: the window stays usable while it is open.
    dialog->setWindowModality(Qt::NonModal);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty()) {
            rememberFolderOf(kOpenFolderKey, files.first());
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
    // Until an image has been saved, beside the sources.
    const QString saveFolder = rememberedFolder(kSaveFolderKey);
    prepare(&dialog, saveFolder.isEmpty() ? rememberedFolder(kOpenFolderKey) : saveFolder);
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
        rememberFolderOf(kSaveFolderKey, path);
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
    box.setInformativeText(
        keepingPathsWhole(tr("A file with the same name already exists in “%1”. Replacing it "
                             "will overwrite its current contents.")
                              .arg(info.absolutePath())));
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

bool WidgetPrompts::runChoice(const QString &message, const QString &informativeText,
                              const QString &action)
{
    QMessageBox box(m_parent);
    box.setIcon(QMessageBox::Information);
    box.setWindowTitle(alertTitle());
    box.setText(keepingPathsWhole(message));
    box.setInformativeText(keepingPathsWhole(informativeText));
    QPushButton *chosen = box.addButton(action, QMessageBox::ActionRole);
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    return box.clickedButton() == chosen;
}

void WidgetPrompts::runErrorAlert(const Error &error)
{
    runMessageBox(m_parent, QMessageBox::Warning, error.message, error.details);
}
