#pragma once

#include <QByteArray>
#include <QVariant>
#include <optional>

// Property lists through libplist. Dictionaries become QVariantMap, arrays
// QVariantList, strings QString, integers qint64, reals double, booleans bool,
// data QByteArray, dates QDateTime.
namespace PropertyList {

// XML and binary lists both; nothing when the bytes are no property list.
std::optional<QVariant> parse(const QByteArray &bytes);

} // namespace PropertyList
