#include "AppRig.h"
#include "Appearance.h"
#include "LicenseWindow.h"
#include "Log.h"
#include "QNSHeaderSheetView.h"
#include "QNSPromoManager.h"
#include "QuitOnSignal.h"
#include "WidgetPrompts.h"

#include <QtWidgets>

namespace {

// Answers the modal dialogs that come up, in order; a step returns false while
// the modal widget is not the one it awaits.
struct DialogScript : QTimer {
    std::deque<std::function<bool(QWidget *modal)>> steps;
    DialogScript()
    {
        connect(this, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!steps.empty() && modal && modal->isVisible() && steps.front()(modal))
                steps.pop_front();
        });
        start(20);
    }
};

template <typename Dialog> Dialog *named(QWidget *widget, const char *name)
{
    auto *dialog = qobject_cast<Dialog *>(widget);
    return dialog && dialog->objectName() == QLatin1String(name) ? dialog : nullptr;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

    QTemporaryDir m_resources;

private slots:
    void initTestCase()
    {
        // Remembered folders and geometry go to a settings file of the tests' own.
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        Log::setEchoToStderr(false);
    }

    void init() { Bundle::setResourcesPath(m_resources.path()); }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QApplication::processEvents();
    }

    void windowFollowsController()
    {
        const auto writePlist = [&](const QByteArray &entries) {
            writeFile(m_resources.filePath("Info.plist"),
                      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + entries +
                          "</dict></plist>\n");
        };
        writePlist("<key>CFBundleShortVersionString</key><string>1.2</string>"
                   "<key>CFBundleVersion</key><string>45</string>");
        Window w;
        auto &[prompts, controller, delegate, window] = w;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(window.versionLabel()->text(), "Version 1.2 (45)");
        // A missing key shows as "?", not as a gap.
        writePlist("<key>CFBundleShortVersionString</key><string>3.0</string>");
        QCOMPARE(AppDelegate::composeVersionInfo(), "Version 3.0 (?)");
        QFile::remove(m_resources.filePath("Info.plist"));
        QCOMPARE(AppDelegate::composeVersionInfo(), "Version ? (?)");
        // The window loads the controller's view: the title is there from the start.
        QCOMPARE(window.mainButton()->title(), "Save...");
        controller.setMainButtonTitle("Cancel");
        QCOMPARE(window.mainButton()->title(), "Cancel");
        QCOMPARE(window.mainButton()->titleColor(), QColor(Qt::white));
        controller.updateProgressText("copying boot.wim");
        controller.updateProgressBarValue(89.6f);
        QTRY_COMPARE(window.statusLabel()->text(), "copying boot.wim");
        QTRY_COMPARE(window.progressBar()->value(), 90); // rounded, not cut
        controller.updateProgressText(QString());
        QTRY_COMPARE(window.statusLabel()->text(), QString());
        controller.setIsoPath("/data/images/Win10_x64.iso");
        QCOMPARE(window.sourceLabel()->text(), "Win10_x64.iso");
        QCOMPARE(window.sourceLabel()->toolTip(), "/data/images/Win10_x64.iso");
        // The source button opens the controller's panel.
        prompts.openAnswers = {QStringLiteral("/data/images/other.iso")};
        QTest::mouseClick(window.sourceButton(), Qt::LeftButton);
        QTRY_COMPARE(window.sourceLabel()->text(), "other.iso");
    }

    void licenceReadAnewOnEachShow()
    {
        const QString licence = m_resources.filePath("eulaplusgpl.txt");
        Window w;
        LicenseWindow window;
        w.delegate.setLicenseWindow(&window);
        w.delegate.setLicenseTextView(window.textView());
        QTextEdit *view = window.textView();
        const auto show = [&] { w.window.licenseAction()->trigger(); };
        // Missing, or not UTF-8: the window says so instead of staying empty.
        show();
        QVERIFY(window.isVisible() && view->toPlainText().contains("could not be read"));
        writeFile(licence, "caf\xe9\n");
        show();
        QVERIFY(view->toPlainText().contains("could not be read"));
        writeFile(licence, "isoswm licence terms\n\nGPL follows — ünïcode kept.\n");
        show();
        QCOMPARE(view->toPlainText(), "isoswm licence terms\n\nGPL follows — ünïcode kept.\n");
        // Esc closes it. Shown twice: replaced, not appended, and read anew.
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        writeFile(licence, "changed terms\n");
        show();
        show();
        QVERIFY(window.isVisible());
        QCOMPARE(view->toPlainText(), "changed terms\n");
        // All of it, to the last character, in the control-text colour.
        QTextCursor last(view->document());
        last.movePosition(QTextCursor::End);
        QCOMPARE(last.charFormat().foreground().color(),
                 view->palette().color(QPalette::ButtonText));
        // A window that is gone is skipped; the text view is still filled.
        w.delegate.setLicenseWindow(new QWidget);
        delete w.delegate.licenseWindow();
        writeFile(licence, "terms\n");
        show();
        QCOMPARE(view->toPlainText(), "terms\n");
    }

    void promotionsNameTheReceiver()
    {
        Window w;
        w.window.show();
        QNSPromoManager *manager = QNSPromoManager::sharedPromoManager();
        QSignalSpy shown(manager, &QNSPromoManager::promoWindowShown);
        // The window's own control goes through the controller, the menu through
        // the delegate; each names itself. Asked again, the same window comes up.
        QTest::mouseClick(w.window.promotionsButton(), Qt::LeftButton);
        QPointer<QWidget> promo = manager->promoWindow();
        QVERIFY(promo && promo->isVisible());
        w.window.promotionsAction()->trigger();
        QCOMPARE(manager->promoWindow(), promo);
        QCOMPARE(shown.count(), 2);
        QCOMPARE(shown.at(0).at(0).value<QObject *>(), &w.controller);
        QCOMPARE(shown.at(1).at(0).value<QObject *>(), &w.delegate);
        // Esc closes it.
        QVERIFY(QTest::qWaitForWindowActive(promo));
        QTest::keyClick(promo, Qt::Key_Escape);
        QTRY_VERIFY(!promo);
    }

    void mainButtonDisabledWhileStopping()
    {
        WindowRig rig;
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        QNSOvalButton *button = rig.window.mainButton();
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        QVERIFY(rig.startConversion());
        QCOMPARE(button->title(), "Cancel");
        QVERIFY(button->isEnabled());
        // Cancel: the stop winds down with the title still "Cancel", and neither
        // a click nor Return starts anything in between.
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(rig.controller.isWindingDown() && !button->isEnabled());
        QCOMPARE(button->title(), "Cancel");
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QCOMPARE(rig.prompts.savePanels.size(), 1);
        // Enabled again once cleanup hands "Save..." back; the window stays open.
        QTRY_VERIFY(button->isEnabled());
        QCOMPARE(button->title(), "Save...");
        QVERIFY(ended.count() == 1 && rig.window.isVisible());
        // Return presses the main button wherever the focus is.
        rig.window.sourceButton()->setFocus();
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QCOMPARE(rig.prompts.savePanels.size(), 2);
        QCOMPARE(rig.prompts.openPanels.size(), 0);
    }

    // During a stage: a detail line and a bar that moves on from the milestone;
    // a SIGTERM (a logout) stops the conversion and asks to quit once it is
    // cleaned up, and the status says "Cancelled".
    void detailLineAndTermination()
    {
        WindowRig rig;
        QuitOnSignal quitOnSignal(&rig.controller);
        QSignalSpy quit(&quitOnSignal, &QuitOnSignal::quitRequested);
        rig.touch("wimsplit.hang");
        QVERIFY(rig.startConversion());
        QTRY_VERIFY(processInPidFileAlive(rig.fakeDir + "/wimsplit.pid"));
        QTRY_VERIFY(rig.window.detailLabel()->text().contains(" of 2.6 MB"));
        QVERIFY(rig.window.progressBar()->value() >= 40);
        ::raise(SIGTERM);
        QTRY_COMPARE(quit.count(), 1);
        QCOMPARE(quit.at(0).at(0).toInt(), SIGTERM);
        QVERIFY(!processInPidFileAlive(rig.fakeDir + "/wimsplit.pid"));
        QVERIFY(rig.leftoverTemporaryFolders().isEmpty());
        QCOMPARE(rig.window.statusLabel()->text(), "Cancelled");
        QCOMPARE(rig.window.detailLabel()->text(), "");

        // The options are the controller's, and kept for the next window.
        rig.window.bootableAction()->setChecked(true);
        QVERIFY(rig.controller.bootable() && !rig.controller.direct());
        Window next;
        QVERIFY(next.window.bootableAction()->isChecked() && next.controller.bootable());
        next.window.bootableAction()->setChecked(false);
    }

    void closeWhileRunningAsksAndWaits()
    {
        WindowRig rig;
        bool stop = false;
        int asked = 0;
        rig.window.setStopQuestion([&] { return ++asked, stop; });
        QSignalSpy closed(&rig.window, &MainWindow::closed);
        // Idle: closes at once without a question; the next window comes up
        // where and as large as this one was.
        rig.window.setGeometry(40, 50, 610, 333);
        QVERIFY(rig.window.close());
        QVERIFY(closed.count() == 1 && asked == 0);
        QCOMPARE(Window().window.geometry(), QRect(40, 50, 610, 333));
        rig.window.show();
        // Declined: the conversion goes on and the window stays.
        QVERIFY(rig.startConversion());
        QVERIFY(!rig.window.close());
        QCOMPARE(asked, 1);
        QVERIFY(rig.controller.isRunning() && rig.window.isVisible());
        // Accepted: the close only stops the conversion; the window goes once
        // cleanup is done, and a second request meanwhile asks nothing more.
        stop = true;
        QVERIFY(!rig.window.close());
        QVERIFY(rig.controller.isWindingDown() && rig.window.isVisible());
        QVERIFY(!rig.window.close());
        QVERIFY(asked == 2 && closed.count() == 1);
        QTRY_COMPARE(closed.count(), 2);
        QVERIFY(!rig.window.isVisible());
        QVERIFY(QDir(rig.root.filePath("tmp")).isEmpty());
    }

    void savePanelAsksBeforeReplacing()
    {
        // A saved name gets the allowed extension, compared without case; a dot
        // in a folder's name is no extension.
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o/a.ISO", {"iso"}), "/o/a.ISO");
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o.d/a", {"iso"}), "/o.d/a.iso");
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o/a.txt", {}), "/o/a.txt");
        QTemporaryDir out;
        const QString existing = out.filePath("Win10_x64.iso-split.iso");
        writeFile(existing, "an older ISO");
        QWidget parent;
        WidgetPrompts prompts(&parent);
        QStringList prefilled, questions;
        const auto accept = [&](const QString &typed) {
            return [&, typed](QWidget *modal) {
                auto *panel = named<QFileDialog>(modal, "savePanel");
                if (!panel)
                    return false;
                auto *name = panel->findChild<QLineEdit *>("fileNameEdit");
                prefilled << name->text();
                panel->setDirectory(out.path());
                // Typed as a user would; selectFile() leaves a focused name field alone.
                name->setText(typed);
                static_cast<QDialog *>(panel)->accept();
                return true;
            };
        };
        const auto answer = [&](const QString &button) {
            return [&, button](QWidget *modal) {
                auto *box = named<QMessageBox>(modal, "replaceQuestion");
                for (QAbstractButton *b : box ? box->buttons() : QList<QAbstractButton *>())
                    if (b->text().remove('&') == button)
                        questions << box->text(), b->click();
                return box != nullptr;
            };
        };
        const auto dismiss = [](QWidget *modal) {
            auto *panel = named<QFileDialog>(modal, "savePanel");
            return panel && (panel->reject(), true);
        };
        // Replacing declined: back to the panel; then replaced. A new name is taken
        // without a question, and a dismissed panel gives nothing.
        const QString name = "Win10_x64.iso-split";
        DialogScript script;
        script.steps = {accept(name),      answer("Cancel"),  accept(name),
                        answer("Replace"), accept("new.iso"), dismiss};
        const Prompts::SavePanel panel{{"iso"}, name};
        QCOMPARE(prompts.runSavePanel(panel), existing);
        QCOMPARE(prefilled.first(), name);
        QCOMPARE(questions.size(), 2);
        QVERIFY(questions.first().contains("Win10_x64.iso-split.iso"));
        // Asking changes nothing on disk.
        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == "an older ISO");
        // The folder used is kept for the next panels, in this run or the next.
        QCOMPARE(prompts.runSavePanel(panel), out.filePath("new.iso"));
        QCOMPARE(QSettings().value("panels/lastFolder").toString(), out.path());
        QCOMPARE(questions.size(), 2);
        QCOMPARE(prompts.runSavePanel(panel), std::nullopt);
        QVERIFY(script.steps.empty());
    }

    void openPanelAnswersLater()
    {
        QTemporaryDir dir;
        const QString iso = dir.filePath("Win10_x64.iso");
        writeFile(iso, "an image");
        WidgetPrompts prompts;
        std::vector<std::optional<QString>> answers;
        const auto open = [&]() -> QFileDialog * {
            prompts.beginOpenPanel({"Select a Windows ISO Image:", {"iso"}},
                                   [&](std::optional<QString> path) { answers.push_back(path); });
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = named<QFileDialog>(w, "openPanel"); d && d->isVisible())
                    return d;
            return nullptr;
        };
        // Returns at once with the panel open, in the folder used last, and no
        // answer yet; it does not block the rest of the application.
        QTemporaryDir last;
        QSettings().setValue("panels/lastFolder", last.path());
        QFileDialog *panel = open();
        QCOMPARE(panel->directory().absolutePath(), last.path());
        QVERIFY(panel && answers.empty());
        QCOMPARE(panel->windowModality(), Qt::NonModal);
        QCOMPARE(panel->windowTitle(), "Select a Windows ISO Image:");
        QVERIFY(panel->nameFilters().join(' ').contains("*.iso"));
        panel->setDirectory(dir.path());
        panel->selectFile(iso);
        static_cast<QDialog *>(panel)->accept();
        // The next one opens where the image was found; dismissed, it answers nothing.
        QCOMPARE(QSettings().value("panels/lastFolder").toString(), dir.path());
        open()->reject();
        QCOMPARE(answers, (std::vector<std::optional<QString>>{iso, std::nullopt}));
    }

    void isoDroppedOrNamedBecomesSource()
    {
        WindowRig rig;
        QSignalSpy notices(rig.window.header(), &QNSHeaderSheetView::fileDropped);
        // Entered on the band as the platform would, then dropped on the window
        // when the band passed the entry on.
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
        writeFile(other, "an image");
        QVERIFY(drag(other));
        QCOMPARE(rig.controller.isoPath(), other);
        // A ".volpack" drag stays the band's own notice and leaves the source alone.
        QVERIFY(!drag(rig.root.filePath("x.volpack")));
        QVERIFY(notices.count() == 1 && rig.controller.isoPath() == other);
        // Named on the command line: a relative path or a file URL; not a missing
        // file or a folder.
        QVERIFY(rig.window.openSource(QDir::current().relativeFilePath(rig.source)));
        QCOMPARE(rig.controller.isoPath(), rig.source);
        QVERIFY(rig.window.openSource(QUrl::fromLocalFile(other).toString()));
        QCOMPARE(rig.controller.isoPath(), other);
        QVERIFY(!rig.window.openSource(rig.root.filePath("missing.iso")));
        QVERIFY(!rig.window.openSource(rig.root.path()));
        // Neither changes the source of a running conversion.
        QVERIFY(rig.startConversion());
        QVERIFY(!drag(other) && !rig.window.openSource(other));
        QCOMPARE(rig.controller.isoPath(), rig.source);
        rig.controller.convertButtonPressed();
        QTRY_VERIFY(!rig.controller.isWindingDown());
    }

    void readsWellUnderDarkDesktop()
    {
        // The desktop's palette as a dark theme gives it.
        const QPalette desktop = QApplication::palette();
        QApplication::setPalette(QPalette(QColor(0x3a, 0x3a, 0x3a)));
        Appearance::apply(*qApp);
        Window w;
        LicenseWindow licence;
        w.delegate.setLicenseTextView(licence.textView());
        w.delegate.showLicenseWindow();
        const auto legible = [](const QWidget *widget, QPalette::ColorRole text,
                                QPalette::ColorRole back = QPalette::Window) {
            const int behind = widget->palette().color(back).lightness();
            return behind < 100 && widget->palette().color(text).lightness() - behind > 90;
        };
        QVERIFY(legible(w.window.menuBar(), QPalette::ButtonText));
        QVERIFY(legible(w.window.versionLabel(), QPalette::WindowText));
        QVERIFY(legible(w.window.sourceLabel(), QPalette::WindowText));
        QVERIFY(legible(w.window.promotionsButton(), QPalette::ButtonText));
        QVERIFY(legible(licence.textView(), QPalette::ButtonText, QPalette::Base));
        QApplication::setPalette(desktop);
        // Named for assistive tools, which read no text off a progress bar.
        auto *progress = QAccessible::queryAccessibleInterface(w.window.progressBar());
        QVERIFY(!progress->text(QAccessible::Name).isEmpty());
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
