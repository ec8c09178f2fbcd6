#include "MountOutput.h"

#include "PropertyList.h"

#include <QStringDecoder>
#include <QVariantMap>

namespace MountOutput {

std::vector<AttachedImage> parseAttachedImages(const QByteArray &plist)
{
    std::vector<AttachedImage> images;
    const std::optional<QVariant> root = PropertyList::parse(plist);
    if (!root || root->typeId() != QMetaType::QVariantMap)
        return images;
    const QVariant list = root->toMap().value(QStringLiteral("images"));
    if (list.typeId() != QMetaType::QVariantList)
        return images;
    for (const QVariant &record : list.toList()) {
        if (record.typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap fields = record.toMap();
        const QVariant path = fields.value(QStringLiteral("image-path"));
        if (path.typeId() != QMetaType::QString)
            continue;
        AttachedImage image;
        image.imagePath = path.toString();
        image.ownerPid = fields.value(QStringLiteral("owner-pid")).toLongLong();
        image.ownerAlive = fields.value(QStringLiteral("owner-alive")).toBool();
        const QVariant entities = fields.value(QStringLiteral("system-entities"));
        if (entities.typeId() == QMetaType::QVariantList) {
            for (const QVariant &entity : entities.toList()) {
                const QVariant mountPoint = entity.toMap().value(QStringLiteral("mount-point"));
                if (mountPoint.typeId() == QMetaType::QString)
                    image.mountPoints << mountPoint.toString();
            }
        }
        images.push_back(image);
    }
    return images;
}

bool isSameImage(const QString &recordPath, const QString &isoPath)
{
    return recordPath.toLower() == isoPath.toLower();
}

std::optional<QString> mountPointFromAttachOutput(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(output);
    if (decoder.hasError())
        return std::nullopt;
    const qsizetype tab = text.lastIndexOf(QLatin1Char('\t'));
    // QString::trimmed covers the same white space and line breaks, U+0085 and
    // the Unicode separators included.
    return (tab < 0 ? text : text.mid(tab + 1)).trimmed();
}

} // namespace MountOutput
