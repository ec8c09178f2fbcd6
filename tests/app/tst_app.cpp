#include "AppDelegate.h"
#include "Bundle.h"
#include "LicenseWindow.h"
#include "Log.h"
#include "MainWindow.h"
#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"
#include "QNSPromoManager.h"
#include "ViewController.h"
#include "WidgetPrompts.h"

#include <QAbstractButton>
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
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <deque>
#include <memory>

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    file.write(bytes);
}

QByteArray infoPlist(const QList<std::pair<QByteArray, QByteArray>> &entries)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\"><dict>\n";
    for (const auto &[key, value] : entries)
        xml += "<key>" + key + "</key><string>" + value + "</string>\n";
    return xml + "</dict></plist>\n";
}

// Every colour the text of `view` is drawn in.
QSet<QRgb> textColours(QTextEdit *view)
{
    QSet<QRgb> colours;
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            colours.insert(it.fragment().charFormat().foreground().color().rgb());
    return colours;
}

bool anyTopLevelVisible()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            return true;
    return false;
}

void closeAllWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        w->close();
}

// Answers the controller's panels from a script (a null string dismisses the
// panel); alerts are recorded.
class ScriptedPrompts : public Prompts {
public:
    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    int savePanelsShown = 0;
    QStringList alerts;

    void beginOpenPanel(const OpenPanel &,
                        std::function<void(std::optional<QString>)> completion) override
    {
        QString answer;
        if (!openAnswers.empty()) {
            answer = openAnswers.front();
            openAnswers.pop_front();
        }
        QTimer::singleShot(0, qApp, [completion, answer] {
            completion(answer.isNull() ? std::nullopt : std::optional<QString>(answer));
        });
    }
    std::optional<QString> runSavePanel(const SavePanel &) override
    {
        ++savePanelsShown;
        if (saveAnswers.empty())
            return std::nullopt;
        const QString answer = saveAnswers.front();
        saveAnswers.pop_front();
        if (answer.isNull())
            return std::nullopt;
        return answer;
    }
    void runAlert(const QString &message, const QString &informativeText) override
    {
        alerts << message + "|" + informativeText;
    }
    void runErrorAlert(const Error &error) override
    {
        alerts << "error:" + error.message + "|" + error.details;
    }
};

// A window on a controller that runs the fake disk tools against a small
// volume folder, so a conversion can be started and stopped for real.
struct WindowRig {
    QTemporaryDir root;
    QString fakeDir, volume, source, destination;
    ScriptedPrompts prompts;
    AppDelegate delegate;
    std::unique_ptr<ViewController> controller;
    std::unique_ptr<MainWindow> window;

    WindowRig()
    {
        fakeDir = root.filePath("fake");
        volume = root.filePath("volumes/CCCOMA_X64FRE_EN-US_DV9");
        source = root.filePath("images/Win10_x64.iso");
        destination = root.filePath("out/Win10_x64.iso-split.iso");
        QDir().mkpath(fakeDir);
        QDir().mkpath(root.filePath("tmp"));
        QDir().mkpath(root.filePath("out"));
        writeFile(source, "an image");
        writeFile(volume + "/setup.exe", "MZ");
        writeFile(volume + "/sources/install.wim", QByteArray(64 * 1024, 'w'));
        for (int i = 0; i < 40; ++i)
            writeFile(volume + QStringLiteral("/sources/file%1.dll").arg(i), "dll");
        writeFile(fakeDir + "/attach.out",
                  "/dev/disk4\tGUID_partition_scheme\t\n/dev/disk4s1\tWindows_NTFS\t" +
                      QFile::encodeName(volume) + "\n");
        qputenv("FAKE_DIR", QFile::encodeName(fakeDir));
        qputenv("TMPDIR", QFile::encodeName(root.filePath("tmp")));

        controller = std::make_unique<ViewController>(&prompts);
        controller->setTools({QStringLiteral(ISOSWM_FAKES_DIR "/hdiutil"),
                              QStringLiteral(ISOSWM_FAKES_DIR "/diskutil")});
        window = std::make_unique<MainWindow>(controller.get(), &delegate);
        window->show();
    }
    ~WindowRig()
    {
        window.reset();
        controller.reset();
        qunsetenv("TMPDIR");
    }

    // Presses the main button into a running conversion: it returns once the
    // staging copy has been handed to its thread.
    bool startConversion()
    {
        controller->setIsoPath(source);
        prompts.saveAnswers.push_back(destination);
        QTest::mouseClick(window->mainButton(), Qt::LeftButton);
        return controller->isRunning();
    }

    QStringList tempEntries() const
    {
        return QDir(root.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
    }
};

// Runs `steps` one after the other against the modal dialogs that come up
// while `body` runs; each step waits until a modal widget of its kind shows.
class DialogScript : public QObject {
public:
    using Step = std::function<bool(QWidget *modal)>; // false: not the awaited dialog yet
    std::deque<Step> steps;
    int done = 0;

    void start()
    {
        m_timer.setInterval(20);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (steps.empty())
                return;
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            if (steps.front()(modal)) {
                steps.pop_front();
                ++done;
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};

QFileDialog *asSavePanel(QWidget *modal)
{
    auto *dialog = qobject_cast<QFileDialog *>(modal);
    return dialog && dialog->objectName() == QLatin1String("savePanel") ? dialog : nullptr;
}

} // namespace

class TestApp : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void versionTextFromInfoPlist();
    void versionTextWithMissingKeys();
    void licenseTextReplacedOnEachShow();
    void licenseWindowGoneStillFillsText();
    void licenseFileMissing();
    void promotionsNameTheReceiver();

    void windowFollowsController();
    void mainButtonDisabledWhileStopping();
    void closeWhenIdleEndsAtOnce();
    void closeWhileRunningStopsFirst();
    void closeDeclinedKeepsConverting();
    void fullConversionWithRealTools();

    void savedNameGetsAllowedExtension_data();
    void savedNameGetsAllowedExtension();
    void savePanelAsksBeforeReplacing();
    void savePanelDismissed();
    void openPanelAnswersLater();
    void errorAlertShowsMessageAndDetails();

private:
    QTemporaryDir m_resources;
};

void TestApp::initTestCase()
{
    QVERIFY(m_resources.isValid());
    Log::setEchoToStderr(false);
    Bundle::setResourcesPath(m_resources.path());
}

void TestApp::cleanup()
{
    closeAllWindows();
    QApplication::processEvents();
    Bundle::setResourcesPath(m_resources.path());
}

void TestApp::versionTextFromInfoPlist()
{
    writeFile(m_resources.filePath("Info.plist"),
              infoPlist({{"CFBundleShortVersionString", "1.2"}, {"CFBundleVersion", "45"}}));
    ScriptedPrompts prompts;
    ViewController controller(&prompts);
    AppDelegate delegate;
    MainWindow window(&controller, &delegate);
    QSignalSpy spy(&delegate, &AppDelegate::versionInfoChanged);

    QVERIFY(delegate.versionInfo().isNull());
    delegate.applicationDidFinishLaunching();
    QCOMPARE(delegate.versionInfo(), QStringLiteral("Version 1.2 (45)"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(window.versionLabel()->text(), QStringLiteral("Version 1.2 (45)"));
}

void TestApp::versionTextWithMissingKeys()
{
    writeFile(m_resources.filePath("Info.plist"),
              infoPlist({{"CFBundleShortVersionString", "3.0"}}));
    QCOMPARE(AppDelegate::composeVersionInfo(), QStringLiteral("Version 3.0 (?)"));
    QFile::remove(m_resources.filePath("Info.plist"));
    QCOMPARE(AppDelegate::composeVersionInfo(), QStringLiteral("Version ? (?)"));
}

void TestApp::licenseTextReplacedOnEachShow()
{
    const QString licence = m_resources.filePath("eulaplusgpl.txt");
    const QByteArray first = "isoswm licence terms\n\nGPL follows — ünïcode kept.\n";
    writeFile(licence, first);

    LicenseWindow window;
    AppDelegate delegate;
    delegate.setLicenseWindow(&window);
    delegate.setLicenseTextView(window.textView());
    QVERIFY(!window.isVisible());

    delegate.showLicenseWindow();
    QVERIFY(window.isVisible());
    QCOMPARE(window.textView()->toPlainText(), QString::fromUtf8(first));

    // Shown again: the text is replaced, not appended, and read anew.
    window.close();
    const QByteArray second = "changed terms\n";
    writeFile(licence, second);
    delegate.showLicenseWindow();
    QVERIFY(window.isVisible());
    QCOMPARE(window.textView()->toPlainText(), QStringLiteral("changed terms\n"));
    delegate.showLicenseWindow();
    QCOMPARE(window.textView()->toPlainText(), QStringLiteral("changed terms\n"));

    // All of it in the control-text colour.
    const QRgb controlText = window.textView()->palette().color(QPalette::ButtonText).rgb();
    QCOMPARE(textColours(window.textView()), QSet<QRgb>{controlText});
}

void TestApp::licenseWindowGoneStillFillsText()
{
    writeFile(m_resources.filePath("eulaplusgpl.txt"), "terms\n");
    QTextEdit view;
    auto *window = new QWidget;
    AppDelegate delegate;
    delegate.setLicenseTextView(&view);
    delegate.setLicenseWindow(window);
    delete window;

    delegate.showLicenseWindow();
    QCOMPARE(view.toPlainText(), QStringLiteral("terms\n"));
    QVERIFY(!anyTopLevelVisible());
}

void TestApp::licenseFileMissing()
{
    QTemporaryDir empty;
    Bundle::setResourcesPath(empty.path());
    LicenseWindow window;
    AppDelegate delegate;
    delegate.setLicenseWindow(&window);
    delegate.setLicenseTextView(window.textView());
    delegate.showLicenseWindow();
    QVERIFY(window.isVisible());
    QVERIFY(window.textView()->toPlainText().contains("could not be read"));

    // Not UTF-8 counts as unreadable too.
    writeFile(empty.filePath("eulaplusgpl.txt"), "caf\xe9\n");
    delegate.showLicenseWindow();
    QVERIFY(window.textView()->toPlainText().contains("could not be read"));
}

void TestApp::promotionsNameTheReceiver()
{
    writeFile(m_resources.filePath("eulaplusgpl.txt"), "terms\n");
    ScriptedPrompts prompts;
    ViewController controller(&prompts);
    AppDelegate delegate;
    LicenseWindow licenseWindow;
    delegate.setLicenseWindow(&licenseWindow);
    delegate.setLicenseTextView(licenseWindow.textView());
    MainWindow window(&controller, &delegate);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QNSPromoManager *manager = QNSPromoManager::sharedPromoManager();
    QCOMPARE(QNSPromoManager::sharedPromoManager(), manager);
    QSignalSpy shown(manager, &QNSPromoManager::promoWindowShown);

    // The window's own control goes to the controller, which names itself.
    QTest::mouseClick(window.promotionsButton(), Qt::LeftButton);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown.at(0).at(0).value<QObject *>(), &controller);
    QCOMPARE(manager->lastRequester(), &controller);
    QVERIFY(manager->promoWindow() && manager->promoWindow()->isVisible());

    // The menu goes to the delegate.
    window.promotionsAction()->trigger();
    QCOMPARE(shown.count(), 2);
    QCOMPARE(shown.at(1).at(0).value<QObject *>(), &delegate);

    // Asking again while it is open raises the same window.
    QWidget *promo = manager->promoWindow();
    delegate.showPromotions();
    QCOMPARE(manager->promoWindow(), promo);
    QCOMPARE(manager->lastRequester(), &delegate);

    // The licence entry of the menu shows the licence window.
    window.licenseAction()->trigger();
    QVERIFY(licenseWindow.isVisible());
    QCOMPARE(licenseWindow.textView()->toPlainText(), QStringLiteral("terms\n"));
}

void TestApp::windowFollowsController()
{
    ScriptedPrompts prompts;
    ViewController controller(&prompts);
    AppDelegate delegate;
    MainWindow window(&controller, &delegate);

    // The window loads the controller's view: the title is there from the start.
    QCOMPARE(window.mainButton()->title(), QStringLiteral("Save..."));
    QCOMPARE(window.mainButton()->titleColor(), QColor(Qt::white));
    QCOMPARE(window.progressBar()->value(), 0);
    QCOMPARE(window.progressBar()->minimum(), 0);
    QCOMPARE(window.progressBar()->maximum(), 100);

    controller.updateProgressText(QStringLiteral("copying boot.wim"));
    controller.updateProgressBarValue(35.0f);
    QTRY_COMPARE(window.statusLabel()->text(), QStringLiteral("copying boot.wim"));
    QTRY_COMPARE(window.progressBar()->value(), 35);
    controller.updateProgressBarValue(89.6f);
    QTRY_COMPARE(window.progressBar()->value(), 90);
    controller.updateProgressText(QString());
    QTRY_COMPARE(window.statusLabel()->text(), QString());

    controller.setMainButtonTitle(QStringLiteral("Cancel"));
    QCOMPARE(window.mainButton()->title(), QStringLiteral("Cancel"));
    QCOMPARE(window.mainButton()->titleColor(), QColor(Qt::white));

    QVERIFY(!window.sourceLabel()->text().contains(".iso"));
    controller.setIsoPath(QStringLiteral("/data/images/Win10_x64.iso"));
    QCOMPARE(window.sourceLabel()->text(), QStringLiteral("Win10_x64.iso"));
    QCOMPARE(window.sourceLabel()->toolTip(), QStringLiteral("/data/images/Win10_x64.iso"));

    // The source button and its menu entry both open the controller's panel.
    prompts.openAnswers = {QStringLiteral("/data/images/other.iso"), QString()};
    QTest::mouseClick(window.sourceButton(), Qt::LeftButton);
    QTRY_COMPARE(controller.isoPath(), QStringLiteral("/data/images/other.iso"));
    QCOMPARE(window.sourceLabel()->text(), QStringLiteral("other.iso"));
}

void TestApp::mainButtonDisabledWhileStopping()
{
    WindowRig rig;
    QNSOvalButton *button = rig.window->mainButton();

    QVERIFY(rig.startConversion());
    QCOMPARE(rig.prompts.savePanelsShown, 1);
    QCOMPARE(button->title(), QStringLiteral("Cancel"));
    QVERIFY(button->isEnabled());

    // Cancel: the stop winds down with the title still "Cancel"; the button
    // stays disabled so no new conversion can start in between.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(!rig.controller->isRunning());
    QVERIFY(rig.controller->isWindingDown());
    QCOMPARE(button->title(), QStringLiteral("Cancel"));
    QVERIFY(!button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(rig.prompts.savePanelsShown, 1);

    QSignalSpy ended(rig.controller.get(), &ViewController::conversionEnded);
    QTRY_VERIFY(button->isEnabled());
    QCOMPARE(button->title(), QStringLiteral("Save..."));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), false);
    QCOMPARE(rig.window->statusLabel()->text(), QString());
    QCOMPARE(rig.window->progressBar()->value(), 0);
    QCOMPARE(rig.tempEntries(), QStringList());
    QVERIFY(!QFileInfo::exists(rig.destination));

    // Idle again: the same source can be converted with one press.
    rig.prompts.saveAnswers.push_back(QString());
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(rig.prompts.savePanelsShown, 2);
}

void TestApp::closeWhenIdleEndsAtOnce()
{
    WindowRig rig;
    int asked = 0;
    rig.window->setStopQuestion([&] { return ++asked, true; });
    QSignalSpy closed(rig.window.get(), &MainWindow::closed);
    QVERIFY(rig.window->close());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(asked, 0);
    QVERIFY(!rig.window->isVisible());
}

void TestApp::closeWhileRunningStopsFirst()
{
    WindowRig rig;
    QVERIFY(rig.startConversion());
    int asked = 0;
    rig.window->setStopQuestion([&] { return ++asked, true; });
    QSignalSpy closed(rig.window.get(), &MainWindow::closed);
    QSignalSpy ended(rig.controller.get(), &ViewController::conversionEnded);

    // The first close only stops the conversion; the window goes once cleanup is done.
    QVERIFY(!rig.window->close());
    QCOMPARE(asked, 1);
    QVERIFY(!rig.controller->isRunning());
    QVERIFY(rig.controller->isWindingDown());
    QCOMPARE(closed.count(), 0);
    QVERIFY(rig.window->isVisible());

    // A second request while stopping asks nothing more.
    QVERIFY(!rig.window->close());
    QCOMPARE(asked, 1);

    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!rig.controller->isWindingDown());
    QVERIFY(!rig.window->isVisible());
    QCOMPARE(rig.tempEntries(), QStringList());
}

void TestApp::closeDeclinedKeepsConverting()
{
    WindowRig rig;
    QVERIFY(rig.startConversion());
    rig.window->setStopQuestion([] { return false; });
    QSignalSpy closed(rig.window.get(), &MainWindow::closed);

    QVERIFY(!rig.window->close());
    QVERIFY(rig.controller->isRunning());
    QVERIFY(rig.window->isVisible());

    // Stopped by hand instead, the window stays open afterwards.
    QTest::mouseClick(rig.window->mainButton(), Qt::LeftButton);
    QTRY_VERIFY(!rig.controller->isWindingDown());
    QTest::qWait(50);
    QCOMPARE(closed.count(), 0);
    QVERIFY(rig.window->isVisible());
}

// Runs a program to its end; its combined output on failure.
bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool ok = process.waitForFinished(120000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return ok;
}

void TestApp::fullConversionWithRealTools()
{
    const QString hdiutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
    const QString wimcapture = QStandardPaths::findExecutable("wimcapture");
    const QString genisoimage = QStandardPaths::findExecutable("genisoimage");
    const QString isoinfo = QStandardPaths::findExecutable("isoinfo");
    if (!QFileInfo::exists("/dev/fuse"))
        QSKIP("needs FUSE");
    if (!QFileInfo(hdiutil).isExecutable() || wimcapture.isEmpty() || genisoimage.isEmpty() ||
        isoinfo.isEmpty())
        QSKIP("needs the built disk tools, wimtools and genisoimage");

    // A small installation image: a real WIM inside a UDF disc image whose
    // label is ours alone, so no other mount of the machine is touched.
    QTemporaryDir root;
    const QString tree = root.filePath("tree");
    writeFile(root.filePath("payload/a.txt"), QByteArray(300000, 'a'));
    writeFile(root.filePath("payload/b/c.bin"), QByteArray(120000, 'c'));
    writeFile(tree + "/setup.exe", "MZ");
    writeFile(tree + "/boot/bcd", "boot data");
    QDir().mkpath(tree + "/sources");
    QString output;
    QVERIFY2(runTool(wimcapture, {root.filePath("payload"), tree + "/sources/install.wim", "Test"},
                     &output),
             qPrintable(output));
    const QString source = root.filePath("images/Win10_x64.iso");
    QDir().mkpath(root.filePath("images"));
    QVERIFY2(runTool(genisoimage,
                     {"-quiet", "-udf", "-iso-level", "3", "-R", "-V", "ISOSWM_APP_TEST", "-o",
                      source, tree},
                     &output),
             qPrintable(output));
    QDir().mkpath(root.filePath("tmp"));
    qputenv("TMPDIR", QFile::encodeName(root.filePath("tmp")));
    Bundle::setResourcesPath(QStringLiteral(ISOSWM_SHARE_DIR));

    ScriptedPrompts prompts;
    const QString destination = root.filePath("Win10_x64.iso-split.iso");
    prompts.saveAnswers.push_back(destination);
    ViewController controller(&prompts);
    AppDelegate delegate;
    MainWindow window(&controller, &delegate);
    window.show();

    // What the window showed, in order; the window's own connections run first.
    QList<int> values;
    QStringList texts, titles;
    connect(window.progressBar(), &QProgressBar::valueChanged, this, [&](int v) { values << v; });
    connect(&controller, &ViewController::progressTextChanged, this,
            [&] { texts << window.statusLabel()->text(); });
    connect(&controller, &ViewController::mainButtonTitleChanged, this,
            [&] { titles << window.mainButton()->title(); });
    QSignalSpy ended(&controller, &ViewController::conversionEnded);

    controller.setIsoPath(source);
    QCOMPARE(window.sourceLabel()->text(), QStringLiteral("Win10_x64.iso"));
    QTest::mouseClick(window.mainButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 180000);
    qunsetenv("TMPDIR");

    QCOMPARE(ended.at(0).at(0).toBool(), true);
    QCOMPARE(values, (QList<int>{3, 5, 25, 35, 40, 80, 90, 0}));
    QVERIFY(texts.contains("copying setup.exe"));
    QVERIFY(texts.contains("Splitting install.wim"));
    QVERIFY(texts.contains("Creating ISO"));
    QCOMPARE(texts.last(), QString());
    QCOMPARE(titles, (QStringList{"Cancel", "Save..."}));
    QTRY_COMPARE(prompts.alerts.size(), 1);
    QVERIFY2(prompts.alerts.first().startsWith("ISO creation completed|"),
             qPrintable(prompts.alerts.first()));
    QVERIFY(window.mainButton()->isEnabled());
    QCOMPARE(window.statusLabel()->text(), QString());
    QCOMPARE(window.progressBar()->value(), 0);
    QCOMPARE(QDir(root.filePath("tmp")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList());

    // The new image holds the pieces instead of install.wim, and the rest as it was.
    QVERIFY2(runTool(isoinfo, {"-R", "-f", "-i", destination}, &output), qPrintable(output));
    const QStringList listing = output.split('\n', Qt::SkipEmptyParts);
    QVERIFY2(listing.contains("/sources/install.swm"), qPrintable(output));
    QVERIFY2(!listing.contains("/sources/install.wim"), qPrintable(output));
    QVERIFY(listing.contains("/setup.exe"));
    QVERIFY(listing.contains("/boot/bcd"));
    // The piece is wimlib's: wiminfo reads it as part 1 of 1 holding the image.
    const QString wiminfo = QStandardPaths::findExecutable("wiminfo");
    if (!wiminfo.isEmpty()) {
        QProcess extract;
        extract.setStandardOutputFile(root.filePath("install.swm"));
        extract.start(isoinfo, {"-R", "-i", destination, "-x", "/sources/install.swm"});
        QVERIFY(extract.waitForFinished(60000) && extract.exitCode() == 0);
        QVERIFY2(runTool(wiminfo, {root.filePath("install.swm")}, &output), qPrintable(output));
        QVERIFY2(output.contains(QRegularExpression("Part Number:\\s+1/1")), qPrintable(output));
        QVERIFY2(output.contains(QRegularExpression("Image Count:\\s+1")), qPrintable(output));
    }

    // No mount of the source is left behind.
    QVERIFY(runTool(hdiutil, {"info", "-plist"}, &output));
    QVERIFY2(!output.contains(source), qPrintable(output));
}

void TestApp::savedNameGetsAllowedExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QString>("expected");
    const QStringList iso{"iso"};
    QTest::newRow("prefilled name") << "/o/Win10.iso-split" << iso << "/o/Win10.iso-split.iso";
    QTest::newRow("already iso") << "/o/a.iso" << iso << "/o/a.iso";
    QTest::newRow("upper-case iso") << "/o/a.ISO" << iso << "/o/a.ISO";
    QTest::newRow("no extension") << "/o/image" << iso << "/o/image.iso";
    QTest::newRow("dot in folder only") << "/o.d/image" << iso << "/o.d/image.iso";
    QTest::newRow("nothing allowed") << "/o/a.txt" << QStringList() << "/o/a.txt";
}

void TestApp::savedNameGetsAllowedExtension()
{
    QFETCH(QString, path);
    QFETCH(QStringList, types);
    QFETCH(QString, expected);
    QCOMPARE(WidgetPrompts::withAllowedExtension(path, types), expected);
}

void TestApp::savePanelAsksBeforeReplacing()
{
    QTemporaryDir out;
    const QString existing = out.filePath("Win10_x64.iso-split.iso");
    writeFile(existing, "an older ISO");

    QWidget parent;
    WidgetPrompts prompts(&parent);
    QString prefilled;
    QStringList questions;
    DialogScript script;
    const auto acceptIn = [&](QWidget *modal) {
        QFileDialog *panel = asSavePanel(modal);
        if (!panel)
            return false;
        if (prefilled.isNull())
            prefilled = panel->findChild<QLineEdit *>("fileNameEdit")->text();
        panel->setDirectory(out.path());
        // Typed as a user would; selectFile() leaves a focused name field alone.
        panel->findChild<QLineEdit *>("fileNameEdit")->setText("Win10_x64.iso-split");
        static_cast<QDialog *>(panel)->accept();
        return true;
    };
    const auto answerQuestion = [&](const QString &answer) {
        return [&, answer](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            if (!box || box->objectName() != QLatin1String("replaceQuestion"))
                return false;
            questions << box->text();
            for (QAbstractButton *b : box->buttons())
                if (b->text().remove('&') == answer)
                    b->click();
            return true;
        };
    };
    // Declined first: back to the panel; then replaced.
    script.steps = {acceptIn, answerQuestion("Cancel"), acceptIn, answerQuestion("Replace")};
    script.start();

    const std::optional<QString> chosen =
        prompts.runSavePanel({{"iso"}, QStringLiteral("Win10_x64.iso-split")});
    QCOMPARE(script.done, 4);
    QCOMPARE(prefilled, QStringLiteral("Win10_x64.iso-split"));
    QCOMPARE(chosen, std::optional<QString>(existing));
    QCOMPARE(questions.size(), 2);
    QVERIFY(questions.first().contains("Win10_x64.iso-split.iso"));
    // Asking changes nothing on disk: the file is still the old one.
    QFile file(existing);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("an older ISO"));

    // A new name is taken without a question.
    DialogScript fresh;
    fresh.steps = {[&](QWidget *modal) {
        QFileDialog *panel = asSavePanel(modal);
        if (!panel)
            return false;
        panel->setDirectory(out.path());
        panel->findChild<QLineEdit *>("fileNameEdit")->setText("new.iso");
        static_cast<QDialog *>(panel)->accept();
        return true;
    }};
    fresh.start();
    const std::optional<QString> fresher = prompts.runSavePanel({{"iso"}, QStringLiteral("x")});
    QCOMPARE(fresher.value_or("(none)"), out.filePath("new.iso"));
    QCOMPARE(fresh.done, 1);
}

void TestApp::savePanelDismissed()
{
    WidgetPrompts prompts;
    DialogScript script;
    script.steps = {[](QWidget *modal) {
        QFileDialog *panel = asSavePanel(modal);
        if (panel)
            panel->reject();
        return panel != nullptr;
    }};
    script.start();
    QCOMPARE(prompts.runSavePanel({{"iso"}, QStringLiteral("a.iso-split")}), std::nullopt);
    QCOMPARE(script.done, 1);
}

void TestApp::openPanelAnswersLater()
{
    QTemporaryDir dir;
    const QString iso = dir.filePath("Win10_x64.iso");
    writeFile(iso, "an image");

    WidgetPrompts prompts;
    std::vector<std::optional<QString>> answers;
    const auto open = [&] {
        prompts.beginOpenPanel(
            {QStringLiteral("Select a Windows ISO Image:"), {"iso"}, false, false},
            [&](std::optional<QString> path) { answers.push_back(path); });
    };
    const auto findPanel = [] {
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *d = qobject_cast<QFileDialog *>(w);
                d && d->isVisible() && d->objectName() == QLatin1String("openPanel"))
                return d;
        return static_cast<QFileDialog *>(nullptr);
    };

    // Returns at once with the panel open and no answer yet; it does not block
    // the rest of the application.
    open();
    QFileDialog *panel = findPanel();
    QVERIFY(panel);
    QVERIFY(answers.empty());
    QCOMPARE(panel->windowModality(), Qt::NonModal);
    QCOMPARE(panel->windowTitle(), QStringLiteral("Select a Windows ISO Image:"));
    QCOMPARE(panel->fileMode(), QFileDialog::ExistingFile);
    QVERIFY(panel->nameFilters().join(' ').contains("*.iso"));
    panel->setDirectory(dir.path());
    panel->selectFile(iso);
    static_cast<QDialog *>(panel)->accept();
    QCOMPARE(answers.size(), size_t(1));
    QCOMPARE(answers[0], std::optional<QString>(iso));

    open();
    panel = findPanel();
    QVERIFY(panel);
    panel->reject();
    QCOMPARE(answers.size(), size_t(2));
    QCOMPARE(answers[1], std::nullopt);
}

void TestApp::errorAlertShowsMessageAndDetails()
{
    WidgetPrompts prompts;
    QString text, details;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    DialogScript script;
    script.steps = {[&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box)
            return false;
        text = box->text();
        details = box->informativeText();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
        return true;
    }};
    script.start();
    prompts.runErrorAlert({QStringLiteral("“install.wim” couldn’t be removed."),
                           QStringLiteral("Permission denied (/tmp/iso-x/install.wim)")});
    QCOMPARE(script.done, 1);
    QCOMPARE(text, QStringLiteral("“install.wim” couldn’t be removed."));
    QCOMPARE(details, QStringLiteral("Permission denied (/tmp/iso-x/install.wim)"));
    QCOMPARE(icon, QMessageBox::Warning);
}

QTEST_MAIN(TestApp)
#include "tst_app.moc"
