#include "PropertyList.h"

#include <QDateTime>
#include <QFile>
#include <QTest>
#include <QTimeZone>

#include <cstdlib>
#include <plist/plist.h>

namespace {

// A list in the shape the disk tool prints, with one value of every kind.
QByteArray sampleXml()
{
    QFile f(QStringLiteral(ISOSWM_TESTS_DIR "/data/sample.plist"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QVariantMap expectedTree()
{
    QVariantMap entity{{"mount-point", QStringLiteral("/run/isoswm/CCCOMA_X64FRE")}};
    QVariantMap image{{"image-path", QStringLiteral("/isos/win.iso")},
                      {"system-entities", QVariantList{entity}}};
    return {
        {"CFBundleShortVersionString", QStringLiteral("1.2")},
        {"greeting", QStringLiteral("Grüße, “world”")},
        {"build", QVariant::fromValue(qint64(45))},
        {"negative", QVariant::fromValue(qint64(-7))},
        {"large", QVariant::fromValue(qint64(5000000000))},
        {"ratio", 1.5},
        {"yes", true},
        {"no", false},
        {"blob", QByteArray("hello")},
        {"when", QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), QTimeZone::utc())},
        {"images", QVariantList{image, QVariant::fromValue(qint64(2))}},
    };
}

QByteArray toBinary(const QByteArray &xml)
{
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    if (!node)
        return {};
    char *bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bin, &length);
    plist_free(node);
    const QByteArray out(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return out;
}

// QVariant's == converts between numeric types; the declared mapping is exact.
void compareTypes(const QVariant &actual, const QVariant &expected, const QString &where)
{
    QVERIFY2(actual.typeId() == expected.typeId(),
             qPrintable(QStringLiteral("%1: %2 instead of %3")
                            .arg(where, actual.metaType().name(), expected.metaType().name())));
    if (expected.typeId() == QMetaType::QVariantMap) {
        const QVariantMap a = actual.toMap(), e = expected.toMap();
        QCOMPARE(a.keys(), e.keys());
        for (auto it = e.begin(); it != e.end(); ++it)
            compareTypes(a.value(it.key()), it.value(), where + '/' + it.key());
    } else if (expected.typeId() == QMetaType::QVariantList) {
        const QVariantList a = actual.toList(), e = expected.toList();
        QCOMPARE(a.size(), e.size());
        for (qsizetype i = 0; i < e.size(); ++i)
            compareTypes(a[i], e[i], where + '/' + QString::number(i));
    }
}

} // namespace

class PropertyListTest : public QObject {
    Q_OBJECT

private slots:
    void xmlAndBinaryGiveTheSameTree()
    {
        const QByteArray xml = sampleXml();
        QVERIFY(!xml.isEmpty());
        const auto fromXml = PropertyList::parse(xml);
        QVERIFY(fromXml);
        QCOMPARE(*fromXml, QVariant(expectedTree()));
        compareTypes(*fromXml, expectedTree(), "xml");

        const QByteArray bin = toBinary(xml);
        QVERIFY(bin.startsWith("bplist00"));
        const auto fromBin = PropertyList::parse(bin);
        QVERIFY(fromBin);
        QCOMPARE(*fromBin, *fromXml);
        compareTypes(*fromBin, expectedTree(), "binary");
    }

    void rejectsWhatIsNoPropertyList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("not a property list");
        QTest::newRow("bare xml") << QByteArray("<?xml version=\"1.0\"?>");
        QTest::newRow("unclosed") << QByteArray("<plist>");
        QTest::newRow("binary header only") << QByteArray("bplist00");
        QTest::newRow("truncated binary") << toBinary(sampleXml()).left(40);
        QTest::newRow("zeros") << QByteArray(64, '\0');
    }
    void rejectsWhatIsNoPropertyList()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!PropertyList::parse(bytes));
    }

    void xmlRoundTrips()
    {
        const QVariant tree = expectedTree();
        const QByteArray xml = PropertyList::toXml(tree);
        QVERIFY(xml.startsWith("<?xml"));
        QVERIFY(xml.contains("<plist version=\"1.0\">"));
        const auto back = PropertyList::parse(xml);
        QVERIFY(back);
        QCOMPARE(*back, tree);
        compareTypes(*back, tree, "round trip");
    }

    void writesOtherQtTypesAsTheirListForms()
    {
        const QDateTime before2001(QDate(1999, 12, 31), QTime(23, 59, 59), QTimeZone::utc());
        const QVariantMap in{
            {"int", 7},
            {"uint", 8u},
            {"float", 0.25f},
            {"names", QStringList{"install.swm", "install2.swm"}},
            {"hash", QVariantHash{{"k", QStringLiteral("v")}}},
            {"old", before2001},
            {"invalid", QVariant()},
        };
        const auto back = PropertyList::parse(PropertyList::toXml(in));
        QVERIFY(back);
        const QVariantMap out = back->toMap();
        QCOMPARE(out.value("int").typeId(), int(QMetaType::LongLong));
        QCOMPARE(out.value("int").toLongLong(), 7);
        QCOMPARE(out.value("uint").toLongLong(), 8);
        QCOMPARE(out.value("float").toDouble(), 0.25);
        QCOMPARE(out.value("names"), QVariant(QVariantList{"install.swm", "install2.swm"}));
        QCOMPARE(out.value("hash"), QVariant(QVariantMap{{"k", "v"}}));
        QCOMPARE(out.value("old").toDateTime(), before2001);
        QVERIFY(!out.contains("invalid"));

        QVERIFY(PropertyList::toXml(QVariant()).isEmpty());
    }
};

QObject *newPropertyListTest()
{
    return new PropertyListTest;
}

#include "tst_propertylist.moc"
