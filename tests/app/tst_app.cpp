#include "AppDelegate.h"
#include "Bundle.h"
#include "LicenseWindow.h"
#include "Log.h"
#include "MainWindow.h"
#include "QNSOvalButton.h"
#include "QNSPromoManager.h"
#include "ScriptedPrompts.h"
#include "ViewController.h"
#include "WidgetPrompts.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

// Runs a program to its end; its combined output in `output`.
bool runTool(const QString &program, const QStringList &arguments, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    *output = QString::fromUtf8(process.readAll());
    return ok;
}

// A main window on its own controller, whose panels answer from a script.
struct Window {
    ScriptedPrompts prompts;
    ViewController controller{&prompts};
    AppDelegate delegate;
    MainWindow window{&controller, &delegate};
};

// A small volume folder that the fake disk tools attach, and a temporary folder.
struct FakeVolume {
    QTemporaryDir root;
    QString source = root.filePath("images/Win10_x64.iso");
    QString destination = root.filePath("Win10_x64.iso-split.iso");

    FakeVolume()
    {
        const QString volume = root.filePath("volumes/CCCOMA_X64FRE_EN-US_DV9");
        QDir().mkpath(root.filePath("tmp"));
        writeFile(source, "an image");
        writeFile(volume + "/setup.exe", "MZ");
        writeFile(volume + "/sources/install.wim", QByteArray(64 * 1024, 'w'));
        // Enough items that the copy is still going when a test presses Cancel.
        for (int i = 0; i < 40; ++i)
            writeFile(volume + QStringLiteral("/sources/file%1.dll").arg(i), "dll");
        writeFile(root.filePath("fake/attach.out"),
                  "/dev/disk4\tGUID_partition_scheme\t\n/dev/disk4s1\tWindows_NTFS\t" +
                      QFile::encodeName(volume) + "\n");
        qputenv("FAKE_DIR", QFile::encodeName(root.filePath("fake")));
        qputenv("TMPDIR", QFile::encodeName(root.filePath("tmp")));
    }
    ~FakeVolume() { qunsetenv("TMPDIR"); }
};

// A shown window whose conversions run for real against the fake volume.
struct WindowRig : FakeVolume, Window {
    WindowRig()
    {
        controller.setTools({QStringLiteral(ISOSWM_FAKES_DIR "/hdiutil"),
                             QStringLiteral(ISOSWM_FAKES_DIR "/diskutil")});
        window.show();
    }

    // Presses the main button into a running conversion.
    bool startConversion()
    {
        controller.setIsoPath(source);
        prompts.saveAnswers.push_back(destination);
        QTest::mouseClick(window.mainButton(), Qt::LeftButton);
        return controller.isRunning();
    }
};

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
        // Shown twice: the text is replaced, not appended; a changed file is read anew.
        window.close();
        writeFile(licence, "changed terms\n");
        show();
        show();
        QVERIFY(window.isVisible());
        QCOMPARE(view->toPlainText(), QStringLiteral("changed terms\n"));

        // All of it in the control-text colour.
        const QRgb controlText = view->palette().color(QPalette::ButtonText).rgb();
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                QCOMPARE(it.fragment().charFormat().foreground().color().rgb(), controlText);

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
        // Asked again while open, the same window comes up.
        QCOMPARE(manager->promoWindow(), promo);
    }

    void mainButtonDisabledWhileStopping()
    {
        WindowRig rig;
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
        QCOMPARE(rig.prompts.savePanels.size(), 1);

        // Enabled again once cleanup hands "Save..." back; a stop by hand leaves
        // the window open.
        QTRY_VERIFY(button->isEnabled());
        QCOMPARE(button->title(), QStringLiteral("Save..."));
        QCOMPARE(ended.count(), 1);
        QVERIFY(rig.window.isVisible());

        // Idle again: one press asks for a destination anew.
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(rig.prompts.savePanels.size(), 2);
    }

    void closeWhileRunningAsksAndWaits()
    {
        WindowRig rig;
        bool stop = false;
        int asked = 0;
        rig.window.setStopQuestion([&] { return ++asked, stop; });
        QSignalSpy closed(&rig.window, &MainWindow::closed);

        // Idle: closes at once without a question.
        QVERIFY(rig.window.close());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(asked, 0);
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

    void fullConversionWithRealTools()
    {
        const QString hdiutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
        const QString wimcapture = QStandardPaths::findExecutable("wimcapture");
        const QString genisoimage = QStandardPaths::findExecutable("genisoimage");
        const QString isoinfo = QStandardPaths::findExecutable("isoinfo");
        if (!QFileInfo::exists("/dev/fuse") || !QFileInfo(hdiutil).isExecutable() ||
            wimcapture.isEmpty() || genisoimage.isEmpty() || isoinfo.isEmpty())
            QSKIP("needs FUSE, the built disk tools, wimtools and genisoimage");

        // A small installation image: a real WIM inside a UDF disc image whose
        // label is ours alone, so no other mount of the machine is touched.
        QTemporaryDir root;
        const QString tree = root.filePath("tree");
        const QString source = root.filePath("Win10_x64.iso");
        const QString destination = root.filePath("Win10_x64.iso-split.iso");
        writeFile(root.filePath("payload/a.txt"), QByteArray(300000, 'a'));
        writeFile(root.filePath("payload/b/c.bin"), QByteArray(120000, 'c'));
        writeFile(tree + "/setup.exe", "MZ");
        writeFile(tree + "/boot/bcd", "boot data");
        QDir().mkpath(tree + "/sources");
        QDir().mkpath(root.filePath("tmp"));
        QString output;
        QVERIFY2(runTool(wimcapture,
                         {root.filePath("payload"), tree + "/sources/install.wim", "Test"},
                         &output),
                 qPrintable(output));
        QVERIFY2(runTool(genisoimage,
                         {"-quiet", "-udf", "-iso-level", "3", "-R", "-V", "ISOSWM_APP_TEST", "-o",
                          source, tree},
                         &output),
                 qPrintable(output));
        qputenv("TMPDIR", QFile::encodeName(root.filePath("tmp")));
        Bundle::setResourcesPath(QStringLiteral(ISOSWM_SHARE_DIR));

        Window w;
        auto &[prompts, controller, delegate, window] = w;
        prompts.saveAnswers.push_back(destination);
        window.show();

        // What the window showed, in order; the window's own connections run first.
        QList<int> values;
        QStringList texts, titles;
        connect(window.progressBar(), &QProgressBar::valueChanged, this,
                [&](int v) { values << v; });
        connect(&controller, &ViewController::progressTextChanged, this,
                [&] { texts << window.statusLabel()->text(); });
        connect(&controller, &ViewController::mainButtonTitleChanged, this,
                [&] { titles << window.mainButton()->title(); });
        QSignalSpy ended(&controller, &ViewController::conversionEnded);

        controller.setIsoPath(source);
        QTest::mouseClick(window.mainButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 180000);
        qunsetenv("TMPDIR");

        QCOMPARE(ended.at(0).at(0).toBool(), true);
        QCOMPARE(values, (QList<int>{3, 5, 25, 35, 40, 80, 90, 0}));
        for (const char *text : {"copying setup.exe", "Splitting install.wim", "Creating ISO"})
            QVERIFY2(texts.contains(text), text);
        QCOMPARE(texts.last(), QString());
        QCOMPARE(titles, (QStringList{"Cancel", "Save..."}));
        QTRY_COMPARE(prompts.alerts.size(), 1);
        QVERIFY2(prompts.alerts.first().startsWith("alert:ISO creation completed|"),
                 qPrintable(prompts.alerts.first()));
        QVERIFY(window.mainButton()->isEnabled());
        QCOMPARE(QDir(root.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                 QStringList());

        // The new image holds the pieces instead of install.wim, and the rest as it was.
        QVERIFY2(runTool(isoinfo, {"-R", "-f", "-i", destination}, &output), qPrintable(output));
        const QStringList listing = output.split('\n', Qt::SkipEmptyParts);
        for (const char *path : {"/sources/install.swm", "/setup.exe", "/boot/bcd"})
            QVERIFY2(listing.contains(path), qPrintable(output));
        QVERIFY2(!listing.contains("/sources/install.wim"), qPrintable(output));
        // No mount of the source is left behind.
        QVERIFY(runTool(hdiutil, {"info", "-plist"}, &output));
        QVERIFY2(!output.contains(source), qPrintable(output));
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
        QStringList questions;
        const auto accept = [&](const QString &typed) {
            return [&, typed](QWidget *modal) {
                QFileDialog *panel = asSavePanel(modal);
                if (!panel)
                    return false;
                auto *name = panel->findChild<QLineEdit *>("fileNameEdit");
                if (prefilled.isNull())
                    prefilled = name->text();
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

        QCOMPARE(prompts.runSavePanel(panel), std::optional<QString>(out.filePath("new.iso")));
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

        panel = open();
        QVERIFY(panel);
        panel->reject();
        QCOMPARE(answers.size(), size_t(2));
        QCOMPARE(answers[1], std::nullopt);
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
