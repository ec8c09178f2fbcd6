// The application's dealings with the desktop: D-Bus services on a private bus
// of the test's own, translations, the command line, the log window.

#include "AppRig.h"
#include "DesktopNotifier.h"
#include "Log.h"
#include "LogWindow.h"
#include "QNSOvalButton.h"
#include "SleepInhibitor.h"
#include "Translations.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTranslator>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace {

// logind's Manager: hands out the write end of a pipe per lock; the lock is
// released once its read end sees the end of the pipe.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList requests;
    std::vector<int> lockEnds;
    ~FakeLogind() override { std::for_each(lockEnds.begin(), lockEnds.end(), ::close); }
    bool released(size_t lock) const
    {
        pollfd end{lockEnds.at(lock), POLLIN, 0};
        return ::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP);
    }
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &, const QString &,
                                    const QString &mode)
    {
        requests << what + "|" + mode;
        int pipe[2];
        ::pipe2(pipe, O_CLOEXEC);
        lockEnds.push_back(pipe[0]);
        QDBusUnixFileDescriptor lock(pipe[1]);
        ::close(pipe[1]);
        return lock;
    }
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList notes; // "summary|body|actions"
public slots:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &, int)
    {
        notes << summary + "|" + body + "|" + actions.join(',');
        return 40 + notes.size();
    }
signals:
    void ActionInvoked(uint id, const QString &actionKey);
};

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList shown;
public slots:
    void ShowItems(const QStringList &uris, const QString &) { shown << uris; }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    QProcess m_bus;
    QString m_address;
    QTemporaryDir m_busFolder;

    // A connection of its own to the private bus, as another process would have.
    QDBusConnection connect(const QString &name)
    {
        return QDBusConnection::connectToBus(m_address, name);
    }
    template <typename Fake> void serve(Fake *fake, const QString &service, const QString &path)
    {
        QDBusConnection bus = connect(service);
        QVERIFY(bus.registerService(service));
        QVERIFY(bus.registerObject(path, fake, QDBusConnection::ExportAllContents));
    }

private slots:
    void initTestCase()
    {
        Log::setEchoToStderr(false);
        // A bus of the test's own: nothing of the machine's can answer or be
        // started on it.
        writeFile(m_busFolder.filePath("bus.conf"),
                  "<busconfig><type>session</type><listen>unix:dir=" +
                      QFile::encodeName(m_busFolder.path()) +
                      "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow own=\"*\"/><allow eavesdrop=\"true\"/></policy></busconfig>");
        m_bus.start("dbus-daemon", {"--nofork", "--print-address",
                                    "--config-file=" + m_busFolder.filePath("bus.conf")});
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
        QVERIFY(connect("product").isConnected());
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void sleepInhibitedWhileConverting_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("end");
        QTest::newRow("completed") << ""
                                   << "";
        QTest::newRow("cancelled") << "wimsplit.hang"
                                   << "cancel";
        QTest::newRow("application quit") << "wimsplit.hang"
                                          << "quit";
        // The mount fails before logind has answered: the lock it sends is let go.
        QTest::newRow("failed at once") << "attach.out"
                                        << "";
    }

    void sleepInhibitedWhileConverting()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, end);
        FakeLogind logind;
        serve(&logind, "org.freedesktop.login1", "/org/freedesktop/login1");
        WindowRig rig;
        if (scenario == "attach.out")
            QFile::remove(rig.root.filePath("fake/attach.out"));
        else if (!scenario.isEmpty())
            rig.scenario(scenario);
        auto *inhibitor = new SleepInhibitor(&rig.controller, connect("product"));
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        rig.startConversion();
        QTRY_COMPARE(logind.requests, QStringList{"sleep:idle|block"});
        if (!end.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(rig.controller.isRunning() && !logind.released(0));
        }
        if (end == "quit")
            delete inhibitor;
        if (!end.isEmpty()) {
            QVERIFY(end == "cancel" || logind.released(0));
            rig.controller.convertButtonPressed();
        }
        QTRY_COMPARE(ended.count(), 1);
        QTRY_VERIFY(logind.released(0));
        QCOMPARE(logind.requests.size(), 1);
        if (end != "quit")
            delete inhibitor;
    }

    void notifiesWhenEndedInBackground()
    {
        FakeNotifications notifications;
        FakeFileManager fileManager;
        serve(&notifications, "org.freedesktop.Notifications", "/org/freedesktop/Notifications");
        serve(&fileManager, "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1");
        Window w;
        DesktopNotifier notifier(&w.controller, connect("product"));
        w.controller.setSaveISOPath("/data/out/Win10-split.iso");

        // No window of the application is active: the desktop is told, and a
        // finished image can be shown in its folder.
        QVERIFY(!QGuiApplication::focusWindow());
        emit w.controller.conversionEnded(true);
        emit w.controller.conversionEnded(false);
        QTRY_COMPARE(notifications.notes.size(), 2);
        QCOMPARE(notifications.notes[0],
                 "The new ISO is ready|/data/out/Win10-split.iso|show-in-folder,Show in Folder");
        QVERIFY(notifications.notes[1].startsWith("The conversion stopped|"));
        QVERIFY(notifications.notes[1].endsWith("|"));
        emit notifications.ActionInvoked(42, "show-in-folder"); // the failure has no action
        emit notifications.ActionInvoked(41, "show-in-folder");
        QTRY_COMPARE(fileManager.shown, QStringList{"file:///data/out/Win10-split.iso"});

        // The user is looking at the window: nothing is sent.
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        emit w.controller.conversionEnded(true);
        QTest::qWait(200);
        QCOMPARE(notifications.notes.size(), 2);
    }

    void frenchForFrenchUsers()
    {
        // In the window...
        const QList<QTranslator *> french = Translations::install(*qApp, QLocale(QLocale::French));
        QCOMPARE(french.size(), 2); // Qt's own and ours
        {
            Window w;
            QCOMPARE(w.window.sourceButton()->title(), QString("Choisir l’ISO Windows…"));
        }
        qDeleteAll(french);
        QCOMPARE(Window().window.sourceButton()->title(), QString("Select Windows ISO..."));

        // ...and from the command line, for the user's locale; no display needed.
        const auto run = [](const QStringList &arguments, const QString &lang) {
            QProcess isoswm;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE", "QT_QPA_PLATFORM"})
                env.remove(name);
            env.insert("LANG", lang);
            isoswm.setProcessEnvironment(env);
            isoswm.start(ISOSWM_BIN_DIR "/isoswm", arguments);
            isoswm.waitForFinished();
            return isoswm.readAllStandardOutput() + "exit " + QByteArray::number(isoswm.exitCode());
        };
        QVERIFY(run({"--help"}, "fr_FR.UTF-8").contains("Fait une copie d’une image"));
        QVERIFY(run({"--help"}, "fr_FR.UTF-8").contains("Afficher les informations de version"));
        QVERIFY(run({"--help"}, "C").contains("Makes a copy of a Windows installation image"));
        QCOMPARE(run({"--version"}, "C"), QByteArray("isoswm 1.0.0\nexit 0"));
    }

    void logWindowShowsLinesFromAnyThread()
    {
        Window w;
        w.window.logAction()->trigger();
        LogWindow *log = w.window.logWindow();
        QVERIFY(log->isVisible());
        std::thread([] { Log::write("from the copy thread"); }).join();
        Log::write("from the main thread");
        QTRY_COMPARE(log->textView()->toPlainText(),
                     QString("from the copy thread\nfrom the main thread"));
        log->findChild<QPushButton *>("copyAllButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), log->textView()->toPlainText());

        // A window that goes while a thread still writes is never reached again.
        std::atomic<bool> writing{true};
        std::thread writer([&] {
            for (int i = 0; i < 20000 && writing; ++i)
                Log::write("busy");
        });
        for (int i = 0; i < 50; ++i)
            delete new LogWindow;
        writing = false;
        writer.join();
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
