#include "Bundle.h"
#include "PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

} // namespace

class BundleTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY(m_tmp->isValid());
        Bundle::setResourcesPath(m_tmp->path());
    }
    void cleanup()
    {
        Bundle::setResourcesPath({});
        m_tmp.reset();
    }

    void readsInfoValues()
    {
        writeFile(m_tmp->filePath("Info.plist"),
                  PropertyList::toXml(QVariantMap{{"CFBundleShortVersionString", "1.2"},
                                                  {"CFBundleVersion", "45"},
                                                  {"NumericBuild", 46},
                                                  {"Nested", QVariantMap{{"a", "b"}}}}));
        QCOMPARE(Bundle::infoValue("CFBundleShortVersionString"), std::optional<QString>("1.2"));
        QCOMPARE(Bundle::infoValue("CFBundleVersion"), std::optional<QString>("45"));
        QCOMPARE(Bundle::infoValue("NumericBuild"), std::optional<QString>("46"));
        QVERIFY(!Bundle::infoValue("CFBundleMissing"));
        QVERIFY(!Bundle::infoValue("Nested"));
    }

    void infoValuesNeedAReadableList()
    {
        QVERIFY(!Bundle::infoValue("CFBundleVersion"));
        writeFile(m_tmp->filePath("Info.plist"), "CFBundleVersion = 45");
        QVERIFY(!Bundle::infoValue("CFBundleVersion"));
        // A list whose top is no dictionary has no keys.
        writeFile(m_tmp->filePath("Info.plist"), PropertyList::toXml(QVariantList{"45"}));
        QVERIFY(!Bundle::infoValue("CFBundleVersion"));
    }

    void findsResources()
    {
        writeFile(m_tmp->filePath("eulaplusgpl.txt"), "licence");
        QVERIFY(QDir().mkpath(m_tmp->filePath("tools/bin")));
        QVERIFY(QFile::link("/bin/sh", m_tmp->filePath("tools/bin/wimsplit")));
        QVERIFY(QFile::link(m_tmp->filePath("nowhere"), m_tmp->filePath("tools/bin/broken")));

        QCOMPARE(Bundle::pathForResource("eulaplusgpl", "txt"),
                 std::optional(m_tmp->filePath("eulaplusgpl.txt")));
        QCOMPARE(Bundle::pathForResource("wimsplit", "", "tools/bin"),
                 std::optional(m_tmp->filePath("tools/bin/wimsplit")));
        QVERIFY(!Bundle::pathForResource("eulaplusgpl", ""));
        QVERIFY(!Bundle::pathForResource("eulaplusgpl", "rtf"));
        QVERIFY(!Bundle::pathForResource("wimsplit", ""));
        QVERIFY(!Bundle::pathForResource("broken", "", "tools/bin"));
        QVERIFY(!Bundle::pathForResource("", "txt"));
    }

    void defaultsToTheFolderBesideThePrograms()
    {
        // The build tree is laid out as installed: bin/ next to share/isoswm.
        Bundle::setResourcesPath({});
        QCOMPARE(Bundle::resourcesPath(), QDir::cleanPath(ISOSWM_SHARE_DIR));
        const auto tool = Bundle::pathForResource("wimsplit", "", "tools/bin");
        QVERIFY(tool);
        QVERIFY(QFileInfo(*tool).isExecutable());
        QCOMPARE(Bundle::infoValue("CFBundleName"), std::optional<QString>("isoswm"));
        QVERIFY(!Bundle::infoValue("CFBundleShortVersionString").value_or(QString()).isEmpty());
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
};

QObject *newBundleTest()
{
    return new BundleTest;
}

#include "tst_bundle.moc"
