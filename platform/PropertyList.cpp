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

// Property-list dates count seconds from 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateOffset = 978307200;

QVariant toVariant(plist_t node);

QVariantMap dictionary(plist_t node)
{
    QVariantMap map;
    plist_dict_iter it = nullptr;
    plist_dict_new_iter(node, &it);
    for (;;) {
        char *key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(node, it, &key, &value);
        if (value)
            map.insert(QString::fromUtf8(key), toVariant(value));
        std::free(key);
        if (!value)
            break;
    }
    std::free(it);
    return map;
}

QVariantList array(plist_t node)
{
    QVariantList list;
    const uint32_t count = plist_array_get_size(node);
    list.reserve(qsizetype(count));
    for (uint32_t i = 0; i < count; ++i)
        list.append(toVariant(plist_array_get_item(node, i)));
    return list;
}

QString text(plist_t node)
{
    char *value = nullptr;
    if (plist_get_node_type(node) == PLIST_KEY)
        plist_get_key_val(node, &value);
    else
        plist_get_string_val(node, &value);
    const QString s = QString::fromUtf8(value);
    std::free(value);
    return s;
}

QDateTime date(plist_t node)
{
    int32_t sec = 0;
    int32_t usec = 0;
    plist_get_date_val(node, &sec, &usec);
    const qint64 msecs = (kReferenceDateOffset + sec) * 1000 + usec / 1000;
    return QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
}

// The scalar kinds; libplist keeps every integer in 64 bits, negative ones in
// two's complement.
QVariant scalar(plist_t node)
{
    uint64_t integer = 0;
    switch (plist_get_node_type(node)) {
    case PLIST_UINT:
        plist_get_uint_val(node, &integer);
        return QVariant::fromValue(qint64(integer));
    case PLIST_UID:
        plist_get_uid_val(node, &integer);
        return QVariant::fromValue(qint64(integer));
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
    default:
        return {};
    }
}

QVariant toVariant(plist_t node)
{
    switch (plist_get_node_type(node)) {
    case PLIST_DICT:
        return dictionary(node);
    case PLIST_ARRAY:
        return array(node);
    case PLIST_STRING:
    case PLIST_KEY:
        return text(node);
    case PLIST_DATE:
        return date(node);
    default:
        return scalar(node);
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

} // namespace PropertyList
