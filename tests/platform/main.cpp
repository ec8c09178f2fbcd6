#include <QCoreApplication>
#include <QTest>

// One program for the platform layer; each suite is a test class of its own.
QObject *newFileSystemTest();
QObject *newPropertyListTest();
QObject *newBundleTest();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (QObject *suite : {newFileSystemTest(), newPropertyListTest(), newBundleTest()}) {
        failures += QTest::qExec(suite, argc, argv);
        delete suite;
    }
    return failures == 0 ? 0 : 1;
}
