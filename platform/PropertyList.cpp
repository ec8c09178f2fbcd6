#include "PropertyList.h"

#include <QDateTime>
#include <QTimeZone>

#include <cstdlib>
#include <limits>
#include <memory>
#include <plist/plist.h>

namespace {

struct NodeDeleter {
    void operator()(void *node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

struct XmlDeleter {
    void operator()(char *xml) const { plist_to_xml_free(xml); }
};

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_DICT: {
        QVariantMap map;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char *key = nullptr;
            plist_t value = nullptr;
            plist_dict_next_item(node, it, &key, &value);
            if (!value) {
                std::free(key);
                break;
            }
            map.insert(QString::fromUtf8(key), toVariant(value));
            std::free(key);
        }
        std::free(it);
        return map;
    }
    case PLIST_ARRAY: {
        QVariantList list;
        const uint32_t count = plist_array_get_size(node);
        list.reserve(qsizetype(count));
        for (uint32_t i = 0; i < count; ++i)
            list.append(toVariant(plist_array_get_item(node, i)));
        return list;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char *text = nullptr;
        if (plist_get_node_type(node) == PLIST_KEY)
            plist_get_key_val(node, &text);
        else
            plist_get_string_val(node, &text);
        const QString s = QString::fromUtf8(text);
        std::free(text);
        return s;
    }
    case PLIST_UINT: {
        // libplist keeps every integer in 64 bits; negative ones in two's complement.
        uint64_t value = 0;
        plist_get_uint_val(node, &value);
        return QVariant::fromValue(qint64(value));
    }
    case PLIST_UID: {
        uint64_t value = 0;
        plist_get_uid_val(node, &value);
        return QVariant::fromValue(qint64(value));
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return value;
    }
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return bool(value);
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char *data = plist_get_data_ptr(node, &length);
        return QByteArray(data, qsizetype(length));
    }
    case PLIST_DATE: {
        int32_t sec = 0;
        int32_t usec = 0;
        plist_get_date_val(node, &sec, &usec);
        const qint64 msecs = (kReferenceDateOffset + sec) * 1000 + usec / 1000;
        return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
    }
    default:
        return {};
    }
}

// Nothing for values that have no property-list form (an invalid QVariant,
// a pointer); containers leave such members out.
Node toNode(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        Node dict(plist_new_dict());
        const QVariantMap map = value.toMap(); // a hash converts
        for (auto it = map.begin(); it != map.end(); ++it) {
            if (Node item = toNode(it.value()))
                plist_dict_set_item(dict.get(), it.key().toUtf8().constData(), item.release());
        }
        return dict;
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        Node array(plist_new_array());
        for (const QVariant &member : value.toList()) {
            if (Node item = toNode(member))
                plist_array_append_item(array.get(), item.release());
        }
        return array;
    }
    case QMetaType::QString:
        return Node(plist_new_string(value.toString().toUtf8().constData()));
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return Node(plist_new_data(bytes.constData(), uint64_t(bytes.size())));
    }
    case QMetaType::Bool:
        return Node(plist_new_bool(value.toBool() ? 1 : 0));
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::SChar:
        return Node(plist_new_uint(uint64_t(value.toLongLong())));
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::UShort:
    case QMetaType::UChar:
        return Node(plist_new_uint(value.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return Node(plist_new_real(value.toDouble()));
    case QMetaType::QDateTime:
    case QMetaType::QDate: {
        const QDateTime when = value.typeId() == QMetaType::QDate
                                   ? value.toDate().startOfDay(QTimeZone::utc())
                                   : value.toDateTime();
        if (!when.isValid())
            return {};
        const qint64 msecs = when.toMSecsSinceEpoch() - kReferenceDateOffset * 1000;
        // Split so that the microseconds are never negative.
        qint64 sec = msecs / 1000;
        qint64 ms = msecs % 1000;
        if (ms < 0) {
            ms += 1000;
            --sec;
        }
        if (sec < std::numeric_limits<int32_t>::min() || sec > std::numeric_limits<int32_t>::max())
            return {};
        return Node(plist_new_date(int32_t(sec), int32_t(ms * 1000)));
    }
    default:
        if (value.canConvert<QString>() && value.isValid())
            return Node(plist_new_string(value.toString().toUtf8().constData()));
        return {};
    }
}

} // namespace

namespace PropertyList {

std::optional<QVariant> parse(const QByteArray &bytes)
{
    if (bytes.isEmpty() || quint64(bytes.size()) > std::numeric_limits<uint32_t>::max())
        return std::nullopt;
    plist_t raw = nullptr;
    plist_from_memory(bytes.constData(), uint32_t(bytes.size()), &raw);
    const Node root(raw);
    if (!root)
        return std::nullopt;
    return toVariant(root.get());
}

QByteArray toXml(const QVariant &value)
{
    const Node root = toNode(value);
    if (!root)
        return {};
    char *raw = nullptr;
    uint32_t length = 0;
    plist_to_xml(root.get(), &raw, &length);
    const std::unique_ptr<char, XmlDeleter> xml(raw);
    if (!xml)
        return {};
    return QByteArray(xml.get(), qsizetype(length));
}

} // namespace PropertyList
