#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QImage grabImage(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Pixels exactly of `color` inside `area`.
int countPixels(const QImage &image, const QRect &area, const QColor &color)
{
    int count = 0;
    const QRgb wanted = color.rgb();
    const QRect clipped = area.intersected(image.rect());
    for (int y = clipped.top(); y <= clipped.bottom(); ++y)
        for (int x = clipped.left(); x <= clipped.right(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == (wanted & 0xFFFFFF);
    return count;
}

// Pixels of a white title: glyph cores and their near-white antialiased edges.
// Neither the oval's fill, a style's grey or black text, nor a red title gets here.
// Only the inside of the oval counts: the corners show the window behind it.
int countWhitish(const QImage &image)
{
    const int inset = image.height() / 2;
    int count = 0;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = inset; x < image.width() - inset; ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() >= 235 && c.green() >= 235 && c.blue() >= 235;
        }
    return count;
}

// Pixels where red clearly dominates: the glyphs of a red title.
int countReddish(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            count += c.red() > 180 && c.green() < 90 && c.blue() < 90;
        }
    return count;
}

QMimeData *fileMime(const QStringList &paths)
{
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls.append(QUrl::fromLocalFile(p));
    mime->setUrls(urls);
    return mime;
}

struct DragResult {
    bool accepted;
    Qt::DropAction action;
};

DragResult sendDragEnter(QWidget *target, const QMimeData *mime)
{
    QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, mime,
                          Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

DragResult sendDrop(QWidget *target, const QMimeData *mime)
{
    QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
    return {event.isAccepted(), event.dropAction()};
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void bandCoversTopAtAnySize();
    void bandRepaintsAfterResize();

    void dragEnter_data();
    void dragEnter();
    void dropAnnouncesFirstFileWhateverItsExtension();
    void dropWithoutFilesAnnouncesNothing();

    void titleIsWhiteInEveryState();
    void styledTitleKeepsItsColour();
    void emptyTitleDrawsNoText();
};

void TestControls::bandCoversTopAtAnySize()
{
    const QColor band(0x38, 0x89, 0xE9);
    const QColor under(Qt::red);
    for (const QSize size : {QSize(300, 200), QSize(640, 90)}) {
        // The band view sits on a red parent: whatever is not band must stay red,
        // since the view paints nothing but the band.
        QWidget parent;
        QPalette palette = parent.palette();
        palette.setColor(QPalette::Window, under);
        parent.setPalette(palette);
        parent.setAutoFillBackground(true);
        auto *view = new QNSHeaderSheetView(&parent);
        parent.resize(size);
        view->setGeometry(parent.rect());

        const QImage image = grabImage(&parent);
        const int w = size.width();
        const int h = size.height();
        QCOMPARE(countPixels(image, QRect(0, 0, w, 70), band), w * 70);
        QCOMPARE(countPixels(image, QRect(0, 70, w, h - 70), under), w * (h - 70));
        QCOMPARE(image.pixelColor(w - 1, 69), band);
        QCOMPARE(image.pixelColor(0, 70), under);
    }
}

void TestControls::bandRepaintsAfterResize()
{
    QNSHeaderSheetView view;
    view.resize(200, 100);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.resize(480, 160);
    QTRY_COMPARE(view.size(), QSize(480, 160));
    const QImage image = grabImage(&view);
    const QColor band(0x38, 0x89, 0xE9);
    QCOMPARE(countPixels(image, QRect(0, 0, 480, 70), band), 480 * 70);
    QCOMPARE(countPixels(image, QRect(0, 70, 480, 90), band), 0);
}

void TestControls::dragEnter_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("announced");

    QTest::newRow("mixed-case extension")
        << QStringList{"/tmp/drop/x.VolPack"} << true << "/tmp/drop/x.VolPack";
    QTest::newRow("upper-case extension")
        << QStringList{"/tmp/drop/A.VOLPACK"} << true << "/tmp/drop/A.VOLPACK";
    QTest::newRow("folder with trailing slash")
        << QStringList{"/tmp/drop/pack.volpack/"} << true << "/tmp/drop/pack.volpack/";
    QTest::newRow("named volpack without a dot") << QStringList{"/tmp/drop/volpack"} << false << "";
    QTest::newRow("other extension") << QStringList{"/tmp/drop/Win10.iso"} << false << "";
    QTest::newRow("extension only in folder name")
        << QStringList{"/tmp/drop.volpack/readme"} << false << "";
    QTest::newRow("double extension") << QStringList{"/tmp/drop/x.volpack.zip"} << false << "";
    QTest::newRow("only the second file matches")
        << QStringList{"/tmp/drop/a.iso", "/tmp/drop/b.volpack"} << false << "";
    QTest::newRow("first of several files matches")
        << QStringList{"/tmp/drop/a.volpack", "/tmp/drop/b.iso"} << true << "/tmp/drop/a.volpack";
}

void TestControls::dragEnter()
{
    QFETCH(QStringList, paths);
    QFETCH(bool, accepted);
    QFETCH(QString, announced);

    QNSHeaderSheetView view;
    QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);
    std::unique_ptr<QMimeData> mime(fileMime(paths));

    const DragResult result = sendDragEnter(&view, mime.get());
    QCOMPARE(result.accepted, accepted);
    if (accepted) {
        QCOMPARE(result.action, Qt::CopyAction);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), announced);
    } else {
        QCOMPARE(spy.count(), 0);
    }
}

void TestControls::dropAnnouncesFirstFileWhateverItsExtension()
{
    QNSHeaderSheetView view;
    QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);

    // Entering and then dropping a matching file announces it twice.
    std::unique_ptr<QMimeData> volpack(fileMime({"/tmp/drop/x.volpack", "/tmp/drop/y.volpack"}));
    QVERIFY(sendDragEnter(&view, volpack.get()).accepted);
    const DragResult drop = sendDrop(&view, volpack.get());
    QVERIFY(drop.accepted);
    QCOMPARE(drop.action, Qt::CopyAction);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("/tmp/drop/x.volpack"));
    QCOMPARE(spy.at(1).at(0).toString(), QStringLiteral("/tmp/drop/x.volpack"));

    // The drop itself does not look at the extension. Qt only delivers a drop
    // to the widget that accepted the drag's entry, so it is handed over directly.
    struct DropTarget : QNSHeaderSheetView {
        using QNSHeaderSheetView::dropEvent;
    } other;
    QSignalSpy otherSpy(&other, &QNSHeaderSheetView::fileDropped);
    std::unique_ptr<QMimeData> iso(fileMime({"/tmp/drop/Win10.iso"}));
    QDropEvent isoDrop(QPointF(10, 10), Qt::CopyAction, iso.get(), Qt::LeftButton, Qt::NoModifier);
    isoDrop.ignore();
    other.dropEvent(&isoDrop);
    QVERIFY(isoDrop.isAccepted());
    QCOMPARE(otherSpy.count(), 1);
    QCOMPARE(otherSpy.at(0).at(0).toString(), QStringLiteral("/tmp/drop/Win10.iso"));
}

void TestControls::dropWithoutFilesAnnouncesNothing()
{
    QNSHeaderSheetView view;
    QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);

    QMimeData text;
    text.setText(QStringLiteral("just text"));
    DragResult enter = sendDragEnter(&view, &text);
    QVERIFY(enter.accepted);
    QCOMPARE(enter.action, Qt::CopyAction);
    QVERIFY(sendDrop(&view, &text).accepted);

    // Web addresses are no file names either.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/x.volpack"))});
    enter = sendDragEnter(&view, &web);
    QVERIFY(enter.accepted);
    QCOMPARE(enter.action, Qt::CopyAction);
    QVERIFY(sendDrop(&view, &web).accepted);

    QCOMPARE(spy.count(), 0);
}

void TestControls::titleIsWhiteInEveryState()
{
    QNSOvalButton button;
    // A title coloured some other way is made white by setTitle.
    button.setStyledTitle(QStringLiteral("Save..."), Qt::red);
    button.setTitle(QStringLiteral("Cancel"));
    button.resize(160, 36);
    QCOMPARE(button.title(), QStringLiteral("Cancel"));
    QCOMPARE(button.titleColor(), QColor(Qt::white));

    const QImage enabled = grabImage(&button);
    QVERIFY2(countWhitish(enabled) > 15, "no white title pixels when enabled");
    QCOMPARE(countReddish(enabled), 0);

    button.setDown(true);
    const QImage pressed = grabImage(&button);
    QVERIFY2(countWhitish(pressed) > 15, "no white title pixels when pressed");
    button.setDown(false);

    button.setEnabled(false);
    const QImage disabled = grabImage(&button);
    QVERIFY2(countWhitish(disabled) > 15, "no white title pixels when disabled");

    // A longer title changes what is drawn, still in white.
    button.setEnabled(true);
    button.setTitle(QStringLiteral("Select Windows ISO..."));
    button.resize(button.sizeHint());
    const QImage longer = grabImage(&button);
    QVERIFY(countWhitish(longer) > countWhitish(enabled));
}

void TestControls::styledTitleKeepsItsColour()
{
    QNSOvalButton button;
    button.setTitle(QStringLiteral("Save..."));
    button.setStyledTitle(QStringLiteral("Save..."), Qt::red);
    button.resize(160, 36);
    QCOMPARE(button.titleColor(), QColor(Qt::red));

    const QImage styled = grabImage(&button);
    QVERIFY2(countReddish(styled) > 15, "styled title not drawn in its colour");
    QCOMPARE(countWhitish(styled), 0);

    // Recolouring turns the same title white again.
    button.updateTitleColor();
    const QImage recoloured = grabImage(&button);
    QCOMPARE(countReddish(recoloured), 0);
    QVERIFY(countWhitish(recoloured) > 15);
}

void TestControls::emptyTitleDrawsNoText()
{
    QNSOvalButton button;
    button.setTitle(QString());
    button.resize(120, 36);
    QCOMPARE(countWhitish(grabImage(&button)), 0);
}

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
