#include "AppRig.h"
#include "Appearance.h"
#include "LicenseWindow.h"
#include "Log.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "QNSPromoManager.h"
#include "WidgetPrompts.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTimer>

namespace {

// Answers the modal dialogs that come up, in order; a step returns false while
// the modal widget is not the one it awaits.
class DialogScript : public QTimer {
public:
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

QFileDialog *asSavePanel(QWidget *modal)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    return dialog && dialog->objectName() == QLatin1String("savePanel") ? dialog : nullptr;
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
        Bundle::setResourcesPath(m_resources.path());
    }

    void cleanup()
    {
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QApplication::processEvents();
        Bundle::setResourcesPath(m_resources.path());
    }

    void windowFollowsController()
    {
        const QString plist = m_resources.filePath("Info.plist");
        const auto writePlist = [&](const QByteArray &entries) {
            writeFile(plist, "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>" + entries +
                                 "</dict></plist>\n");
        };
        writePlist("<key>CFBundleShortVersionString</key><string>1.2</string>"
                   "<key>CFBundleVersion</key><string>45</string>");
        Window w;
        auto &[prompts, controller, delegate, window] = w;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(window.versionLabel()->text(), QStringLiteral("Version 1.2 (45)"));
        // A missing key shows as "?", not as a gap.
        writePlist("<key>CFBundleShortVersionString</key><string>3.0</string>");
        QCOMPARE(AppDelegate::composeVersionInfo(), QStringLiteral("Version 3.0 (?)"));
        QFile::remove(plist);
        QCOMPARE(AppDelegate::composeVersionInfo(), QStringLiteral("Version ? (?)"));

        // The window loads the controller's view: the title is there from the start.
        QCOMPARE(window.mainButton()->title(), QStringLiteral("Save..."));
        controller.setMainButtonTitle(QStringLiteral("Cancel"));
        QCOMPARE(window.mainButton()->title(), QStringLiteral("Cancel"));
        QCOMPARE(window.mainButton()->titleColor(), QColor(Qt::white));

        controller.updateProgressText(QStringLiteral("copying boot.wim"));
        controller.updateProgressBarValue(89.6f);
        QTRY_COMPARE(window.statusLabel()->text(), QStringLiteral("copying boot.wim"));
        QTRY_COMPARE(window.progressBar()->value(), 90); // rounded, not cut
        controller.updateProgressText(QString());
        QTRY_COMPARE(window.statusLabel()->text(), QString());

        controller.setIsoPath(QStringLiteral("/data/images/Win10_x64.iso"));
        QCOMPARE(window.sourceLabel()->text(), QStringLiteral("Win10_x64.iso"));
        QCOMPARE(window.sourceLabel()->toolTip(), QStringLiteral("/data/images/Win10_x64.iso"));
        // The source button opens the controller's panel.
        prompts.openAnswers = {QStringLiteral("/data/images/other.iso")};
        QTest::mouseClick(window.sourceButton(), Qt::LeftButton);
        QTRY_COMPARE(window.sourceLabel()->text(), QStringLiteral("other.iso"));
    }

    void licenceReadAnewOnEachShow()
    {
        const QString licence = m_resources.filePath("eulaplusgpl.txt");
        Window w;
        LicenseWindow window;
        AppDelegate &delegate = w.delegate;
        delegate.setLicenseWindow(&window);
        delegate.setLicenseTextView(window.textView());
        QTextEdit *view = window.textView();
        // Shown from the window's menu.
        const auto show = [&] { w.window.licenseAction()->trigger(); };

        // Missing, or not UTF-8: the window says so instead of staying empty.
        show();
        QVERIFY(window.isVisible());
        QVERIFY(view->toPlainText().contains("could not be read"));
        writeFile(licence, "caf\xe9\n");
        show();
        QVERIFY(view->toPlainText().contains("could not be read"));

        const QByteArray terms = "isoswm licence terms\n\nGPL follows — ünïcode kept.\n";
        writeFile(licence, terms);
        show();
        QCOMPARE(view->toPlainText(), QString::fromUtf8(terms));
        // Esc closes it. Shown twice: the text is replaced, not appended; a changed
        // file is read anew.
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(!window.isVisible());
        writeFile(licence, "changed terms\n");
        show();
        show();
        QVERIFY(window.isVisible());
        QCOMPARE(view->toPlainText(), QStringLiteral("changed terms\n"));

        // All of it, to the last character, in the control-text colour.
        QTextCursor last(view->document());
        last.movePosition(QTextCursor::End);
        QCOMPARE(last.charFormat().foreground().color(),
                 view->palette().color(QPalette::ButtonText));

        // A window that is gone is skipped; the text view is still filled.
        auto *gone = new QWidget;
        delegate.setLicenseWindow(gone);
        delete gone;
        writeFile(licence, "terms\n");
        show();
        QCOMPARE(view->toPlainText(), QStringLiteral("terms\n"));
    }

    void promotionsNameTheReceiver()
    {
        Window w;
        auto &[prompts, controller, delegate, window] = w;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QNSPromoManager *manager = QNSPromoManager::sharedPromoManager();
        QSignalSpy shown(manager, &QNSPromoManager::promoWindowShown);

        // The window's own control goes through the controller, the menu through
        // the delegate; each names itself.
        QTest::mouseClick(window.promotionsButton(), Qt::LeftButton);
        QVERIFY(manager->promoWindow() && manager->promoWindow()->isVisible());
        QWidget *promo = manager->promoWindow();
        window.promotionsAction()->trigger();
        QCOMPARE(shown.count(), 2);
        QCOMPARE(shown.at(0).at(0).value<QObject *>(), &controller);
        QCOMPARE(shown.at(1).at(0).value<QObject *>(), &delegate);
        // Asked again while open, the same window comes up; Esc closes it.
        QCOMPARE(manager->promoWindow(), promo);
        QVERIFY(QTest::qWaitForWindowActive(promo));
        QTest::keyClick(promo, Qt::Key_Escape);
        QTRY_VERIFY(!manager->promoWindow());
    }

    void mainButtonDisabledWhileStopping()
    {
        WindowRig rig;
        QVERIFY(QTest::qWaitForWindowActive(&rig.window));
        QNSOvalButton *button = rig.window.mainButton();
        QSignalSpy ended(&rig.controller, &ViewController::conversionEnded);
        QVERIFY(rig.startConversion());
        QCOMPARE(button->title(), QStringLiteral("Cancel"));
        QVERIFY(button->isEnabled());

        // Cancel: the stop winds down with the title still "Cancel", and the button
        // is disabled so nothing new starts in between.
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(rig.controller.isWindingDown());
        QCOMPARE(button->title(), QStringLiteral("Cancel"));
        QVERIFY(!button->isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QCOMPARE(rig.prompts.savePanels.size(), 1);

        // Enabled again once cleanup hands "Save..." back; a stop by hand leaves
        // the window open.
        QTRY_VERIFY(button->isEnabled());
        QCOMPARE(button->title(), QStringLiteral("Save..."));
        QCOMPARE(ended.count(), 1);
        QVERIFY(rig.window.isVisible());

        // Idle again: Return presses the main button, wherever the focus is, and
        // asks for a destination anew.
        rig.window.sourceButton()->setFocus();
        QTest::keyClick(&rig.window, Qt::Key_Return);
        QCOMPARE(rig.prompts.savePanels.size(), 2);
        QCOMPARE(rig.prompts.openPanels.size(), 0);
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
        QCOMPARE(closed.count(), 1);
        QCOMPARE(asked, 0);
        QCOMPARE(Window().window.geometry(), QRect(40, 50, 610, 333));
        rig.window.show();

        // Declined: the conversion goes on and the window stays.
        QVERIFY(rig.startConversion());
        QVERIFY(!rig.window.close());
        QCOMPARE(asked, 1);
        QVERIFY(rig.controller.isRunning());
        QVERIFY(rig.window.isVisible());

        // Accepted: the close only stops the conversion; the window goes once
        // cleanup is done, and a second request meanwhile asks nothing more.
        stop = true;
        QVERIFY(!rig.window.close());
        QCOMPARE(asked, 2);
        QVERIFY(rig.controller.isWindingDown());
        QVERIFY(rig.window.isVisible());
        QVERIFY(!rig.window.close());
        QCOMPARE(asked, 2);
        QCOMPARE(closed.count(), 1);
        QTRY_COMPARE(closed.count(), 2);
        QVERIFY(!rig.window.isVisible());
        QCOMPARE(QDir(rig.root.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());
    }

    void savedNameGetsAllowedExtension()
    {
        // Compared without case; a dot in a folder's name is no extension.
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o/a.ISO", {"iso"}), QString("/o/a.ISO"));
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o.d/a", {"iso"}), QString("/o.d/a.iso"));
        QCOMPARE(WidgetPrompts::withAllowedExtension("/o/a.txt", {}), QString("/o/a.txt"));
    }

    void savePanelAsksBeforeReplacing()
    {
        QTemporaryDir out;
        const QString existing = out.filePath("Win10_x64.iso-split.iso");
        writeFile(existing, "an older ISO");

        QWidget parent;
        WidgetPrompts prompts(&parent);
        QString prefilled;
        QStringList questions, openedIn;
        const auto accept = [&](const QString &typed) {
            return [&, typed](QWidget *modal) {
                QFileDialog *panel = asSavePanel(modal);
                if (!panel)
                    return false;
                auto *name = panel->findChild<QLineEdit *>("fileNameEdit");
                if (prefilled.isNull())
                    prefilled = name->text();
                openedIn << panel->directory().absolutePath();
                panel->setDirectory(out.path());
                // Typed as a user would; selectFile() leaves a focused name field alone.
                name->setText(typed);
                static_cast<QDialog *>(panel)->accept();
                return true;
            };
        };
        const auto answer = [&](const QString &button) {
            return [&, button](QWidget *modal) {
                auto *box = qobject_cast<QMessageBox *>(modal);
                if (!box || box->objectName() != QLatin1String("replaceQuestion"))
                    return false;
                questions << box->text();
                for (QAbstractButton *b : box->buttons())
                    if (b->text().remove('&') == button)
                        b->click();
                return true;
            };
        };
        const auto dismiss = [](QWidget *modal) {
            QFileDialog *panel = asSavePanel(modal);
            if (panel)
                panel->reject();
            return panel != nullptr;
        };
        // Replacing declined: back to the panel; then replaced. A new name is taken
        // without a question, and a dismissed panel gives nothing.
        const QString name = QStringLiteral("Win10_x64.iso-split");
        DialogScript script;
        script.steps = {accept(name),      answer("Cancel"),  accept(name),
                        answer("Replace"), accept("new.iso"), dismiss};

        const Prompts::SavePanel panel{{"iso"}, name};
        QCOMPARE(prompts.runSavePanel(panel), std::optional<QString>(existing));
        QCOMPARE(script.steps.size(), size_t(2));
        QCOMPARE(prefilled, name);
        QCOMPARE(questions.size(), 2);
        QVERIFY(questions.first().contains("Win10_x64.iso-split.iso"));
        // Asking changes nothing on disk.
        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("an older ISO"));

        // The next panel opens in the folder used last.
        QCOMPARE(prompts.runSavePanel(panel), std::optional<QString>(out.filePath("new.iso")));
        QCOMPARE(openedIn.value(2), out.path());
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
            prompts.beginOpenPanel({QStringLiteral("Select a Windows ISO Image:"), {"iso"}},
                                   [&](std::optional<QString> path) { answers.push_back(path); });
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QFileDialog *>(w);
                    d && d->isVisible() && d->objectName() == QLatin1String("openPanel"))
                    return d;
            return nullptr;
        };

        // Returns at once with the panel open and no answer yet; it does not block
        // the rest of the application.
        QFileDialog *panel = open();
        QVERIFY(panel);
        QVERIFY(answers.empty());
        QCOMPARE(panel->windowModality(), Qt::NonModal);
        QCOMPARE(panel->windowTitle(), QStringLiteral("Select a Windows ISO Image:"));
        QVERIFY(panel->nameFilters().join(' ').contains("*.iso"));
        panel->setDirectory(dir.path());
        panel->selectFile(iso);
        static_cast<QDialog *>(panel)->accept();
        QCOMPARE(answers, (std::vector<std::optional<QString>>{iso}));

        // The next one opens where the image was found; dismissed, it answers nothing.
        panel = open();
        QVERIFY(panel);
        QCOMPARE(panel->directory().absolutePath(), dir.path());
        panel->reject();
        QCOMPARE(answers.size(), size_t(2));
        QCOMPARE(answers[1], std::nullopt);
    }

    void isoDroppedOrNamedBecomesSource()
    {
        WindowRig rig;
        MainWindow &window = rig.window;
        QSignalSpy notices(window.header(), &QNSHeaderSheetView::fileDropped);
        // Entered on the band as the platform would, then dropped on the window
        // when the band passed the entry on.
        const auto drag = [&](const QString &path) {
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(path)});
            QDragEnterEvent enter({20, 120}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(window.header(), &enter);
            QDropEvent drop({20, 120}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            if (enter.isAccepted() && notices.isEmpty())
                QApplication::sendEvent(&window, &drop);
            return enter.isAccepted() && drop.isAccepted();
        };
        const QString other = rig.root.filePath("images/OTHER.ISO");
        writeFile(other, "an image");
        QVERIFY(drag(other));
        QCOMPARE(rig.controller.isoPath(), other);
        // A ".volpack" drag stays the band's own notice and leaves the source alone.
        QVERIFY(!drag(rig.root.filePath("x.volpack")));
        QCOMPARE(notices.count(), 1);
        QCOMPARE(rig.controller.isoPath(), other);

        // Named on the command line: a relative path or a file URL; not a missing
        // file or a folder.
        QVERIFY(window.openSource(QDir::current().relativeFilePath(rig.source)));
        QCOMPARE(rig.controller.isoPath(), rig.source);
        QVERIFY(window.openSource(QUrl::fromLocalFile(other).toString()));
        QCOMPARE(rig.controller.isoPath(), other);
        QVERIFY(!window.openSource(rig.root.filePath("missing.iso")));
        QVERIFY(!window.openSource(rig.root.path()));
        // Neither changes the source of a running conversion.
        QVERIFY(rig.startConversion());
        QVERIFY(!drag(other));
        QVERIFY(!window.openSource(other));
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
            const QPalette &p = widget->palette();
            return p.color(back).lightness() < 100 &&
                   p.color(text).lightness() - p.color(back).lightness() > 90;
        };
        QVERIFY(legible(w.window.menuBar(), QPalette::ButtonText));
        QVERIFY(legible(w.window.versionLabel(), QPalette::WindowText));
        QVERIFY(legible(w.window.sourceLabel(), QPalette::WindowText));
        QVERIFY(legible(w.window.promotionsButton(), QPalette::ButtonText));
        QVERIFY(legible(licence.textView(), QPalette::ButtonText, QPalette::Base));
        QApplication::setPalette(desktop);

        // Named for assistive tools. (Announcements need a screen reader's bridge,
        // which the offscreen platform lacks.)
        for (QWidget *widget : std::initializer_list<QWidget *>{
                 w.window.progressBar(), w.window.mainButton(), w.window.sourceButton()})
            QVERIFY(
                !QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name).isEmpty());
    }

    void errorAlertShowsMessageAndDetails()
    {
        WidgetPrompts prompts;
        QString shown;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        DialogScript script;
        script.steps = {[&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box)
                return false;
            shown = box->text() + "|" + box->informativeText();
            icon = box->icon();
            box->button(QMessageBox::Ok)->click();
            return true;
        }};
        prompts.runErrorAlert({QStringLiteral("“install.wim” couldn’t be removed."),
                               QStringLiteral("Permission denied (/tmp/x/install.wim)")});
        QCOMPARE(shown, QStringLiteral("“install.wim” couldn’t be removed.|Permission denied "
                                       "(/tmp/x/install.wim)"));
        QCOMPARE(icon, QMessageBox::Warning);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
