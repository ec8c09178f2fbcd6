// The application's window, its panels, and its dealings with the desktop (D-Bus
// services on a bus of the test's own, translations, command line, log window).

#include "AppDelegate.h"
#include "Appearance.h"
#include "Bundle.h"
#include "DesktopNotifier.h"
#include "FakeVolume.h"
#include "LicenseWindow.h"
#include "Log.h"
#include "LogWindow.h"
#include "MainWindow.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "ScriptedPrompts.h"
#include "SleepInhibitor.h"
#include "Translations.h"
#include "ViewController.h"
#include "WidgetPrompts.h"

#include <QtDBus>
#include <QtTest>
#include <QtWidgets>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

// A main window on its own controller, whose panels answer from a script.
struct Window {
    ScriptedPrompts prompts;
    ViewController controller{&prompts};
    AppDelegate delegate;
    MainWindow window{&controller, &delegate};
};

// A shown window whose conversions run the fake disk tools on the fake volume.
struct WindowRig : FakeVolume, Window {
    WindowRig()
    {
        Bundle::setResourcesPath(resources);
        RunOptions options = controller.options();
        options.tools = {ISOSWM_FAKES_DIR "/hdiutil", ISOSWM_FAKES_DIR "/diskutil"};
        controller.setOptions(options);
        window.show();
    }
    ~WindowRig() { qunsetenv("TMPDIR"); }

    // Presses the main button into a running conversion.
    bool startConversion()
    {
        controller.setIsoPath(source);
        prompts.saveAnswers.push_back(destination);
        QTest::mouseClick(window.mainButton(), Qt::LeftButton);
        return controller.isRunning();
    }
};

// Answers the modal dialogs as they come up, in order: each step acts on the
// dialog of its object name, and waits while another one is up.
struct DialogScript : QTimer {
    std::deque<std::pair<QString, std::function<void(QWidget *)>>> steps;
    DialogScript()
    {
        connect(this, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!steps.empty() && modal && modal->isVisible() &&
                modal->objectName() == steps.front().first)
                steps.front().second(modal), steps.pop_front();
        });
        start(20);
    }
};

// A desktop service: records each call as "Member|argument|..." (strings and
// lists of them, a list's items joined by commas) and answers with `reply`.
class FakeService : public QDBusVirtualObject {
public:
    QStringList calls;
    std::function<QVariantList()> reply = [] { return QVariantList(); };
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        QStringList call{message.member()};
        for (const QVariant &a : message.arguments())
            call << a.toStringList().join(',');
        calls << call.join('|');
        return connection.send(message.createReply(reply()));
    }
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT

    QTemporaryDir m_resources, m_busFolder;
    QProcess m_bus;

    // A connection of its own to the private bus, as another process would have.
    QDBusConnection connect(const QString &name)
    {
        return QDBusConnection::connectToBus("unix:path=" + m_busFolder.filePath("bus"), name);
    }
    void serve(FakeService *fake, const QString &service)
    {
        QDBusConnection bus = connect(service);
        QVERIFY(bus.registerService(service) &&
                bus.registerVirtualObject("/" + QString(service).replace('.', '/'), fake));
    }

private slots:
    void initTestCase()
    {
        // Remembered folders and geometry go to a settings file of the tests' own.
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        Log::setEchoToStderr(false);
        // A bus of the test's own, which goes with the test even when it dies.
        m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_bus.start("dbus-daemon", {"--session", "--nofork", "--print-address",
                                    "--address=unix:path=" + m_busFolder.filePath("bus")});
        QVERIFY(m_bus.waitForReadyRead(10000));
    }
    void cleanupTestCase()
    {
        m_bus.kill();
        m_bus.waitForFinished();
    }
    void init() { Bundle::setResourcesPath(m_resources.path()); }
    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QApplication::processEvents();
    }

    // The window shows the controller's state and the bundle's version; its
    // options are kept for the next window.
    void windowFollowsController()
    {
        FakeVolume::write(m_resources.filePath("Info.plist"),
                          "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>"
                          "CFBundleShortVersionString</key><string>1.2</string></dict></plist>");
        Window w;
        auto &[prompts, controller, delegate, window] = w;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(window.versionLabel()->text(), "Version 1.2 (?)"); // a missing key is no gap
        controller.updateProgressBarValue(89.6f);
        QTRY_COMPARE(window.progressBar()->value(), 90); // rounded, not cut
        prompts.openAnswers = {QStringLiteral("/data/images/Win10_x64.iso")};
        QTest::mouseClick(window.sourceButton(), Qt::LeftButton);
        QTRY_COMPARE(window.sourceLabel()->text(), "Win10_x64.iso");
        window.bootableAction()->setChecked(true);
        QVERIFY(controller.options().bootable && !controller.options().direct);
        Window next;
        QVERIFY(next.window.bootableAction()->isChecked() && next.controller.options().bootable);
        next.window.bootableAction()->setChecked(false);
    }

    // Idle, a close is at once (the next window comes up where this one was) and
    // Return presses the main button wherever the focus is. Running, a stage shows
    // a detail line and a bar past its milestone; a close asks, and once accepted
    // stops the conversion and waits for cleanup, asking only once; meanwhile the
    // button still reads "Cancel" and nothing starts (no click, no Return).
    void closeWhileRunningAsksAndWaits()
    {
        WindowRig rig;
        bool stop = false;
        int asked = 0;
        rig.window.setStopQuestion([&] { return ++asked, stop; });
        QSignalSpy closed(&rig.window, &MainWindow::closed);
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        for (const QRect &chosen :
             {QRect(40, 50, 610, 333), rig.window.screen()->availableGeometry()}) {
            rig.window.setGeometry(chosen);
            QVERIFY(rig.window.close() && asked == 0);
            Window next;
            next.window.show();
            QCOMPARE(next.window.geometry(), chosen);
            rig.window.show();
        }
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        rig.controller.setIsoPath(rig.source);
        rig.window.sourceButton()->setFocus();
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QVERIFY(rig.prompts.savePanels.size() == 1 && rig.prompts.openPanels.empty());
        rig.touch("wimsplit.hang");
        QNSOvalButton *button = rig.window.mainButton();
        QVERIFY(rig.startConversion() && !rig.window.close());
        QTRY_VERIFY(processInPidFileAlive(rig.fakeDir + "/wimsplit.pid"));
        QTRY_VERIFY(rig.window.detailLabel()->text().contains(" of 2.6 MB"));
        QVERIFY(rig.window.progressBar()->value() >= 40 && button->isEnabled());
        QVERIFY(!rig.window.openSource(rig.source)); // the source of a run stays
        QVERIFY(asked == 1 && rig.controller.isRunning() && rig.window.isVisible());
        stop = true;
        QVERIFY(!rig.window.close() && !rig.window.close() && asked == 2);
        QVERIFY(rig.controller.isWindingDown() && rig.window.isVisible() && closed.count() == 2);
        QVERIFY(!button->isEnabled() && button->title() == "Cancel");
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QTRY_COMPARE(closed.count(), 3);
        QVERIFY(!rig.window.isVisible() && ended.count() == 1 &&
                rig.prompts.savePanels.size() == 2);
        QVERIFY(button->isEnabled() && button->title() == "Save...");
        QVERIFY(!processInPidFileAlive(rig.fakeDir + "/wimsplit.pid"));
        QVERIFY(QDir(rig.tmpDir).isEmpty() && rig.window.detailLabel()->text().isEmpty());
        QCOMPARE(rig.window.statusLabel()->text(), "Cancelled");
    }

    // A saved name gets the allowed extension, compared without case. Replacing
    // a file is asked, and declined leads back to the panel. Each panel opens in
    // the folder it used last, and shows sizes whole; the open panel leaves the
    // application usable. Alerts wrap between words, never inside a path.
    void panelsAskBeforeReplacingAndKeepTheFolder()
    {
        QTemporaryDir out, sources;
        const QString name = "Win10_x64.iso-split", existing = out.filePath(name + ".iso");
        const QString source = sources.filePath("Win10_x64.iso");
        FakeVolume::write(existing, "an older ISO");
        FakeVolume::write(source, "an image");
        QStringList prefilled, questions, opened;
        int sizeRoom = INT_MAX; // beside "1,000.00 MiB" in the size column
        DialogScript script;
        for (const QString &answer :
             {name, QString("Cancel"), name, QString("Replace"), QString("new.ISO"), QString()}) {
            if (answer == "Cancel" || answer == "Replace")
                script.steps.emplace_back("replaceQuestion", [&, answer](QWidget *modal) {
                    auto *box = static_cast<QMessageBox *>(modal);
                    questions << box->text();
                    for (QAbstractButton *b : box->buttons())
                        if (b->text().remove('&') == answer)
                            b->click();
                });
            else
                script.steps.emplace_back("savePanel", [&, answer](QWidget *modal) {
                    auto *panel = static_cast<QFileDialog *>(modal);
                    auto *field = panel->findChild<QLineEdit *>("fileNameEdit");
                    prefilled << field->text();
                    opened << panel->directory().absolutePath();
                    auto *view = panel->findChild<QTreeView *>("treeView");
                    sizeRoom = std::min(
                        sizeRoom,
                        view->header()->sectionSize(1) -
                            2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1) -
                            view->fontMetrics().horizontalAdvance(
                                QLocale::system().formattedDataSize(qint64(1000) << 20)));
                    panel->setDirectory(out.path());
                    field->setText(answer); // selectFile() leaves a focused field alone
                    answer.isEmpty() ? panel->reject() : static_cast<QDialog *>(panel)->accept();
                });
        }
        QWidget parent;
        WidgetPrompts prompts(&parent);
        const Prompts::SavePanel panel{{"iso"}, name};
        QCOMPARE(prompts.runSavePanel(panel), existing);
        QVERIFY(prefilled.value(0) == name && questions.value(0).contains(name + ".iso"));
        QCOMPARE(FakeVolume::read(existing), "an older ISO");
        QCOMPARE(prompts.runSavePanel(panel), out.filePath("new.ISO"));
        QCOMPARE(prompts.runSavePanel(panel), std::nullopt);
        QVERIFY(script.steps.empty() && questions.size() == 2 && sizeRoom >= 0);
        QCOMPARE(opened, QStringList({QDir::homePath(), out.path(), out.path(), out.path()}));

        std::vector<std::optional<QString>> answers;
        const auto open = [&] {
            prompts.beginOpenPanel({"Select a Windows ISO Image:", {"iso"}},
                                   [&](std::optional<QString> path) { answers.push_back(path); });
            return parent.findChildren<QFileDialog *>("openPanel").last();
        };
        QFileDialog *openPanel = open();
        QVERIFY(openPanel && answers.empty() && openPanel->windowModality() == Qt::NonModal);
        QCOMPARE(openPanel->directory().absolutePath(), QDir::homePath()); // not where images went
        QVERIFY(openPanel->nameFilters().join(' ').contains("*.iso *.ISO"));
        openPanel->selectFile(source);
        static_cast<QDialog *>(openPanel)->accept();
        QCOMPARE((openPanel = open())->directory().absolutePath(), sources.path());
        openPanel->reject();
        QCOMPARE(answers, (std::vector<std::optional<QString>>{source, {}}));

        const QString text = "Cannot write “/media/My Disk/new.iso” (/var/tmp/isoswm-1000/x-y): "
                             "No space left on device",
                      shown = WidgetPrompts::keepingPathsWhole(text);
        const auto visible = [](QString t) {
            return t.remove(QChar(0x2060)).replace(QChar::Nbsp, ' ');
        };
        QTextLayout layout(shown, parent.font());
        QStringList lines;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(30);
            lines << visible(shown.mid(line.textStart(), line.textLength())).trimmed();
        }
        layout.endLayout();
        QCOMPARE(visible(shown), text);
        QCOMPARE(lines, QStringList({"Cannot", "write", "“/media/My Disk/new.iso”",
                                     "(/var/tmp/isoswm-1000/x-y):", "No", "space", "left", "on",
                                     "device"}));
    }

    // An ISO dragged on (the band passes it on) or named on the command line
    // becomes the source; a ".volpack" stays the band's notice.
    void isoDroppedOrNamedBecomesSource()
    {
        WindowRig rig;
        QSignalSpy notices(rig.window.header(), &QNSHeaderSheetView::fileDropped);
        const auto drag = [&](const QString &path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter({20, 120}, Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(rig.window.header(), &enter);
            QDropEvent drop({20, 120}, Qt::CopyAction, &mime, Qt::LeftButton, {});
            if (enter.isAccepted() && notices.isEmpty())
                QApplication::sendEvent(&rig.window, &drop);
            return enter.isAccepted() && drop.isAccepted();
        };
        const QString other = rig.root.filePath("images/OTHER.ISO");
        FakeVolume::write(other, "an image");
        QVERIFY(drag(other) && rig.controller.isoPath() == other);
        QVERIFY(!drag(rig.root.filePath("x.volpack")));
        QVERIFY(notices.count() == 1 && rig.controller.isoPath() == other);
        QVERIFY(rig.window.openSource(QDir::current().relativeFilePath(rig.source)) &&
                rig.controller.isoPath() == rig.source);
        QVERIFY(rig.window.openSource(QUrl::fromLocalFile(other).toString()) &&
                rig.controller.isoPath() == other);
        QVERIFY(!rig.window.openSource(rig.root.filePath("missing.iso")) &&
                !rig.window.openSource(rig.root.path()));
    }

    // logind's lock (the write end of a pipe) is held while a conversion runs and
    // let go as it ends; one that comes after a failed mount is let go at once.
    void sleepInhibitedWhileConverting_data()
    {
        QTest::addColumn<QString>("end");
        for (const char *end : {"cancelled", "mount failed"})
            QTest::newRow(end) << QString(end);
    }
    void sleepInhibitedWhileConverting()
    {
        QFETCH(QString, end);
        WindowRig rig;
        rig.touch(end == "cancelled" ? "wimsplit.hang" : "attach.err");
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        FakeService logind;
        int lock[2];
        QVERIFY(::pipe2(lock, O_CLOEXEC | O_NONBLOCK) == 0);
        logind.reply = [&] {
            if (end == "mount failed") // logind answers once the conversion has ended
                (void)QTest::qWaitFor([&] { return ended.count() == 1; });
            const QVariantList reply{QVariant::fromValue(QDBusUnixFileDescriptor(lock[1]))};
            return ::close(lock[1]), reply;
        };
        char byte; // released once no write end of the pipe is left open
        const auto released = [&] { return ::read(lock[0], &byte, 1) == 0; };
        serve(&logind, "org.freedesktop.login1");
        SleepInhibitor inhibitor(&rig.controller, connect("product"));
        rig.startConversion();
        QTRY_COMPARE(logind.calls, QStringList{"Inhibit|sleep:idle|tst_app|A Windows image is "
                                               "being converted|block"});
        if (end == "cancelled") {
            QTest::qWait(100);
            QVERIFY(rig.controller.isRunning() && !released());
            rig.controller.convertButtonPressed();
        }
        QTRY_COMPARE(ended.count(), 1);
        QTRY_VERIFY(released());
        QCOMPARE(logind.calls.size(), 1);
        ::close(lock[0]);
    }

    // Only when no window of ours has the focus is the desktop told; a finished
    // image (notification 41, not the failure's 42) can be shown in its folder.
    void notifiesWhenEndedInBackground()
    {
        FakeService notifications, fileManager;
        uint id = 40;
        notifications.reply = [&] { return QVariantList{++id}; };
        serve(&notifications, "org.freedesktop.Notifications");
        serve(&fileManager, "org.freedesktop.FileManager1");
        Window w;
        DesktopNotifier notifier(&w.controller, connect("product"));
        w.controller.setSaveISOPath("/data/out/Win10-split.iso");
        emit w.controller.conversionEnded(true);
        emit w.controller.conversionEnded(false);
        QTRY_COMPARE(notifications.calls.size(), 2);
        QCOMPARE(notifications.calls[0],
                 "Notify|tst_app||isoswm|The new ISO is ready|"
                 "/data/out/Win10-split.iso|show-in-folder,Show in Folder||");
        QVERIFY(notifications.calls[1].contains("|The conversion stopped|") &&
                !notifications.calls[1].contains("show-in-folder"));
        for (uint id : {42, 41})
            connect("org.freedesktop.Notifications")
                .send(QDBusMessage::createSignal("/org/freedesktop/Notifications",
                                                 "org.freedesktop.Notifications", "ActionInvoked")
                      << id << QString("show-in-folder"));
        QTRY_COMPARE(fileManager.calls, QStringList{"ShowItems|file:///data/out/Win10-split.iso|"});
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        emit w.controller.conversionEnded(true);
        QTest::qWait(200);
        QCOMPARE(notifications.calls.size(), 2);
    }

    // French in the window (its log, as its other lines, stays in English), and on
    // the command line (ours and Qt's own texts) for the user's locale, where no
    // display is needed.
    void frenchForFrenchUsers()
    {
        Bundle::setResourcesPath({}); // the build's own, where the catalogues are
        const QList<QTranslator *> installed = Translations::install(*qApp, QLocale::French);
        QCOMPARE(Window().window.mainButton()->title(), "Enregistrer…");
        {
            WindowRig rig;
            QVERIFY(rig.startConversion());
            QTRY_VERIFY(rig.window.logWindow()->textView()->toPlainText().contains(" cleaning up"));
            const QString log = rig.window.logWindow()->textView()->toPlainText();
            QVERIFY(log.contains(" Creating ISO\n") && !log.contains("Création") &&
                    !log.contains("% done"));
        }
        qDeleteAll(installed);
        QProcess help;
        help.setEnvironment({"LANG=fr_FR.UTF-8"});
        help.start(ISOSWM_BIN_DIR "/isoswm", {"--help"});
        QVERIFY(help.waitForFinished());
        const QByteArray french = help.readAllStandardOutput(); // ours, and Qt's own
        QVERIFY(french.contains("Fait une copie") && french.contains("Afficher les informations"));
    }

    // Lines written on any thread reach the window; one that goes while a thread
    // still writes is never reached again.
    void logWindowShowsLinesFromAnyThread()
    {
        Window w;
        w.window.logAction()->trigger();
        std::thread([] { Log::write("from the copy thread"); }).join();
        Log::write("from the main thread");
        // A tool's output as it is read; its progress reports and blank lines are left out.
        Log::write("output:Splitting WIM: 1 MiB of 2 MiB (50%) written, part 1 of 1\r");
        Log::write("output: 50.00% done, estimate finish Sun Dec  6 21:10:01 2026\n\n"
                   "Total translation table size: 0\n");
        static const QRegularExpression stamps("^\\d\\d:\\d\\d:\\d\\d ",
                                               QRegularExpression::MultilineOption);
        QTRY_COMPARE(w.window.logWindow()->textView()->toPlainText().remove(stamps),
                     "from the copy thread\nfrom the main thread\nTotal translation table size: 0");
        std::thread writer([] {
            for (int i = 0; i < 20000; ++i)
                Log::write("busy");
        });
        for (int i = 0; i < 50; ++i)
            delete new LogWindow;
        writer.join();
    }

    // Read anew on each show, all of it legible in the control-text colour under
    // a dark desktop theme as the rest is; a missing or non-UTF-8 file says so.
    // (Last: the desktop's palette stays dark.)
    void licenceAndWindowUnderDarkDesktop()
    {
        QApplication::setPalette(QPalette(QColor(0x3a, 0x3a, 0x3a)));
        Appearance::apply(*qApp);
        Window w;
        LicenseWindow licence;
        QTextEdit *view = licence.textView();
        w.delegate.setLicenseWindow(&licence);
        w.delegate.setLicenseTextView(view);
        const auto show = [&](const QByteArray &text) {
            if (!text.isNull())
                FakeVolume::write(m_resources.filePath("eulaplusgpl.txt"), text);
            w.window.licenseAction()->trigger();
            return view->toPlainText();
        };
        QVERIFY(show({}).contains("could not be read") && licence.isVisible());
        QVERIFY(show("caf\xe9\n").contains("could not be read"));
        QCOMPARE(show("GPL — ünïcode kept.\n"), "GPL — ünïcode kept.\n");
        QCOMPARE(show("changed terms\n"), "changed terms\n");
        QTextCursor last(view->document());
        last.movePosition(QTextCursor::End);
        QCOMPARE(last.charFormat().foreground().color(),
                 view->palette().color(QPalette::ButtonText));
        using R = QPalette::ColorRole;
        for (const auto &[widget, text, back] :
             {std::tuple<QWidget *, R, R>{w.window.versionLabel(), R::WindowText, R::Window},
              {w.window.promotionsButton(), R::ButtonText, R::Window},
              {view, R::ButtonText, R::Base}}) {
            const int behind = widget->palette().color(back).lightness();
            QVERIFY(behind < 100 && widget->palette().color(text).lightness() - behind > 90);
        }
        // Named for assistive tools, which read no text off a progress bar.
        QAccessibleInterface *bar = QAccessible::queryAccessibleInterface(w.window.progressBar());
        QVERIFY(!bar->text(QAccessible::Name).isEmpty());
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
