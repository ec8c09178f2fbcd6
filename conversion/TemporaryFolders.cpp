#include "TemporaryFolders.h"

#include "Conversion.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <unistd.h>

namespace {

QString stateFile()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/isoswm/temporary-folders");
}

QStringList remembered()
{
    QFile file(stateFile());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

namespace TemporaryFolders {

QString resolve(const QString &chosen)
{
    if (!chosen.isEmpty())
        return chosen;
    const QString folder = qEnvironmentVariable("TMPDIR");
    return folder.isEmpty() ? QString::fromLatin1(kLargeDefault) : folder;
}

std::optional<QString> refusal(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.exists())
        return Conversion::tr("The temporary folder “%1” does not exist.").arg(folder);
    if (!info.isDir())
        return Conversion::tr("“%1” is not a folder; choose a folder for temporary files.")
            .arg(folder);
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return Conversion::tr("The temporary folder “%1” cannot be written to.").arg(folder);
    return std::nullopt;
}

void remember(const QString &folder)
{
    const QString absolute = QFileInfo(folder).absoluteFilePath();
    QStringList folders = remembered();
    if (folders.contains(absolute))
        return;
    folders << absolute;
    QDir().mkpath(QFileInfo(stateFile()).path());
    QSaveFile file(stateFile());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(folders.join(QLatin1Char('\n')).toUtf8() + '\n');
        file.commit();
    }
}

QStringList places(const QString &current)
{
    QStringList all{current, resolve(QString()), QString::fromLatin1(kLargeDefault)};
    all << remembered();
    QStringList unique;
    for (const QString &folder : all) {
        const QString absolute = QFileInfo(folder).absoluteFilePath();
        if (!folder.isEmpty() && !unique.contains(absolute))
            unique << absolute;
    }
    return unique;
}

} // namespace TemporaryFolders
