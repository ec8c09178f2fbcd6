#include "Bundle.h"

#include "PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace {
QMutex g_mutex;
QString g_resourcesPath; // set by tests; empty for the folder beside the executable
} // namespace

namespace Bundle {

QString resourcesPath()
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_resourcesPath.isEmpty())
            return g_resourcesPath;
    }
    // <prefix>/bin/program -> <prefix>/share/isoswm, in the build tree as installed.
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/../share/isoswm"));
}

void setResourcesPath(const QString &path)
{
    QMutexLocker lock(&g_mutex);
    g_resourcesPath = path.isEmpty() ? QString() : QDir::cleanPath(path);
}

std::optional<QString> pathForResource(const QString &name, const QString &type,
                                       const QString &directory)
{
    if (name.isEmpty())
        return std::nullopt;
    QString file = name;
    if (!type.isEmpty())
        file += QLatin1Char('.') + type;
    QString folder = resourcesPath();
    if (!directory.isEmpty())
        folder += QLatin1Char('/') + directory;
    const QString path = QDir::cleanPath(folder + QLatin1Char('/') + file);
    // exists() follows links, so a link into the system (tools/bin/wimsplit)
    // counts when its target is there, and a dangling one does not.
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

std::optional<QString> infoValue(const QString &key)
{
    QFile file(resourcesPath() + QStringLiteral("/Info.plist"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<QVariant> info = PropertyList::parse(file.readAll());
    if (!info || info->typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = info->toMap();
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        return std::nullopt;
    // Version keys are strings, but a hand-edited list may hold a number.
    switch (it->typeId()) {
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return it->toString();
    default:
        return std::nullopt;
    }
}

} // namespace Bundle
