// The application's dealings with the desktop: D-Bus services on a private bus
// of the test's own, translations, the command line, the log window.

#include "AppRig.h"
#include "DesktopNotifier.h"
#include "Log.h"
#include "LogWindow.h"
#include "SleepInhibitor.h"
#include "Translations.h"

#include <QtDBus>
#include <QtWidgets>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

// logind hands out the write end of a pipe per lock; a lock is released once
// every copy of it is closed and its read end sees the end of the pipe.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList calls; // as "Member|argument|...", here and below
    std::vector<int> lockEnds;
    ~FakeLogind() override { std::for_each(lockEnds.begin(), lockEnds.end(), ::close); }
    bool released() const
    {
        pollfd end{lockEnds.back(), POLLIN, 0};
        return ::poll(&end, 1, 0) == 1 && (end.revents & POLLHUP);
    }
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &,
                                    const QString &mode)
    {
        calls << "Inhibit|" + what + "|" + who + "|" + mode;
        int ends[2];
        ::pipe2(ends, O_CLOEXEC);
        lockEnds.push_back(ends[0]);
        const QDBusUnixFileDescriptor lock(ends[1]);
        ::close(ends[1]);
        return lock;
    }
};

class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList calls;
public slots:
    uint Notify(const QString &, uint, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &, int)
    {
        calls << QStringList{"Notify", icon, summary, body, actions.join(',')}.join('|');
        return 40 + calls.size();
    }
signals:
    void ActionInvoked(uint id, const QString &actionKey);
};

class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList calls;
public slots:
    void ShowItems(const QStringList &uris, const QString &)
    {
        calls << "ShowItems|" + uris.join(',');
    }
};

} // namespace

class TestDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_busFolder;
    QProcess m_bus;
    QString m_address;

    // A connection of its own to the private bus, as another process would have.
    QDBusConnection connect(const QString &name)
    {
        return QDBusConnection::connectToBus(m_address, name);
    }
    void serve(QObject *fake, const QString &service, const QString &path)
    {
        QDBusConnection bus = connect(service);
        QVERIFY(bus.registerService(service) &&
                bus.registerObject(path, fake, QDBusConnection::ExportAllContents));
    }

private slots:
    void initTestCase()
    {
        Log::setEchoToStderr(false);
        // Nothing of the machine's can answer or be started on this bus.
        writeFile(m_busFolder.filePath("bus.conf"),
                  "<busconfig><type>session</type><listen>unix:dir=" +
                      QFile::encodeName(m_busFolder.path()) +
                      "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                      "<allow own=\"*\"/><allow eavesdrop=\"true\"/></policy></busconfig>");
        // The bus goes with the test, even when the test dies.
        m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_bus.start("dbus-daemon", {"--nofork", "--print-address",
                                    "--config-file=" + m_busFolder.filePath("bus.conf")});
        QVERIFY(m_bus.waitForReadyRead(10000));
        m_address = QString::fromUtf8(m_bus.readLine()).trimmed();
    }

    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    void sleepInhibitedWhileConverting_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("stop");
        QTest::newRow("completed") << ""
                                   << "";
        QTest::newRow("cancelled") << "wimsplit.hang"
                                   << "cancel";
        QTest::newRow("application quit") << "wimsplit.hang"
                                          << "quit";
        // The mount fails before logind has answered: the lock it sends is let go.
        QTest::newRow("failed at once") << "-attach.out"
                                        << "";
    }

    void sleepInhibitedWhileConverting()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, stop);
        FakeLogind logind;
        serve(&logind, "org.freedesktop.login1", "/org/freedesktop/login1");
        WindowRig rig;
        if (scenario.startsWith('-'))
            QFile::remove(rig.root.filePath("fake/" + scenario.mid(1)));
        else if (!scenario.isEmpty())
            writeFile(rig.root.filePath("fake/" + scenario), "x");
        auto inhibitor = std::make_unique<SleepInhibitor>(&rig.controller, connect("product"));
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        rig.startConversion();
        QTRY_COMPARE(logind.calls.size(), 1);
        QCOMPARE(logind.calls[0], "Inhibit|sleep:idle|tst_desktop|block");
        if (!stop.isEmpty()) {
            QTest::qWait(100);
            QVERIFY(rig.controller.isRunning() && !logind.released());
            if (stop == "quit")
                inhibitor.reset();
            QVERIFY(stop == "cancel" || logind.released());
            rig.controller.convertButtonPressed();
        }
        QTRY_COMPARE(ended.count(), 1);
        QTRY_VERIFY(logind.released());
        QCOMPARE(logind.calls.size(), 1);
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
        // No window of the application has the focus: the desktop is told, and a
        // finished image (notification 41, not the failure's 42) is shown in its folder.
        QVERIFY(!QGuiApplication::focusWindow());
        emit w.controller.conversionEnded(true);
        emit w.controller.conversionEnded(false);
        QTRY_COMPARE(notifications.calls.size(), 2);
        QCOMPARE(notifications.calls[0], "Notify|isoswm|The new ISO is ready|"
                                         "/data/out/Win10-split.iso|show-in-folder,Show in Folder");
        QVERIFY(notifications.calls[1].startsWith("Notify|isoswm|The conversion stopped|"));
        QVERIFY(notifications.calls[1].endsWith("|"));
        emit notifications.ActionInvoked(42, "show-in-folder");
        emit notifications.ActionInvoked(41, "show-in-folder");
        QTRY_COMPARE(fileManager.calls, QStringList{"ShowItems|file:///data/out/Win10-split.iso"});
        // The user is looking at the window: nothing is sent.
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        emit w.controller.conversionEnded(true);
        QTest::qWait(200);
        QCOMPARE(notifications.calls.size(), 2);
    }

    void frenchForFrenchUsers()
    {
        // In the window, with Qt's own translation beside ours...
        const QList<QTranslator *> installed = Translations::install(*qApp, QLocale::French);
        QCOMPARE(installed.size(), 2);
        QCOMPARE(Window().window.sourceButton()->title(), "Choisir l’ISO Windows…");
        qDeleteAll(installed);
        QCOMPARE(Window().window.sourceButton()->title(), "Select Windows ISO...");
        // ...and from the command line, for the user's locale; no display needed.
        const auto run = [](const QString &argument, const QString &lang) {
            QProcess isoswm;
            isoswm.start("env",
                         {"-u", "LC_ALL", "-u", "LC_MESSAGES", "-u", "LANGUAGE", "-u",
                          "QT_QPA_PLATFORM", "LANG=" + lang, ISOSWM_BIN_DIR "/isoswm", argument});
            isoswm.waitForFinished();
            return isoswm.readAllStandardOutput() + "exit " + QByteArray::number(isoswm.exitCode());
        };
        const QByteArray french = run("--help", "fr_FR.UTF-8"); // ours, and Qt's own
        QVERIFY(french.contains("Fait une copie") && french.contains("Afficher les informations"));
        QVERIFY(run("--help", "C").contains("Makes a copy of a Windows installation image"));
        QCOMPARE(run("--version", "C"), "isoswm 1.0.0\nexit 0");
    }

    void logWindowShowsLinesFromAnyThread()
    {
        Window w;
        w.window.logAction()->trigger();
        LogWindow *log = w.window.logWindow();
        QVERIFY(log->isVisible());
        std::thread([] { Log::write("from the copy thread"); }).join();
        Log::write("from the main thread");
        QTRY_COMPARE(log->textView()->toPlainText(), "from the copy thread\nfrom the main thread");
        log->findChild<QPushButton *>("copyAllButton")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), log->textView()->toPlainText());
        // A window that goes while a thread still writes is never reached again.
        std::thread writer([] {
            for (int i = 0; i < 20000; ++i)
                Log::write("busy");
        });
        for (int i = 0; i < 50; ++i)
            delete new LogWindow;
        writer.join();
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
