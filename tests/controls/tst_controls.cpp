#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

QImage grabImage(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int countPixels(const QImage &image, const QRect &area, QRgb wanted)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == (wanted & 0xFFFFFF);
    return count;
}

// White glyphs with their antialiased edges; red glyphs.
constexpr auto whitish = [](const QColor &c) {
    return c.red() >= 235 && c.green() >= 235 && c.blue() >= 235;
};
constexpr auto reddish = [](const QColor &c) {
    return c.red() > 180 && c.green() < 90 && c.blue() < 90;
};

// Title pixels of a button: only the inside of the oval counts, its corners
// show the window behind it. The oval's own fill is neither white nor red.
int titlePixels(QNSOvalButton *button, bool (*matches)(const QColor &))
{
    const QImage image = grabImage(button);
    const int inset = image.height() / 2;
    int count = 0;
    for (int y = 3; y < image.height() - 3; ++y)
        for (int x = inset; x < image.width() - inset; ++x)
            count += matches(image.pixelColor(x, y));
    return count;
}

// Sends a drag entry, then (when `drop`) the drop; whether each was accepted
// with a copy, and every path announced.
struct DragOutcome {
    bool enterAccepted = false, dropAccepted = false;
    QStringList announced;
};

DragOutcome drag(const QMimeData &mime, bool drop = false)
{
    QNSHeaderSheetView view;
    QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);
    DragOutcome outcome;
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, &mime,
                          Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&view, &enter);
    outcome.enterAccepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    if (drop) {
        QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(&view, &event);
        outcome.dropAccepted = event.isAccepted() && event.dropAction() == Qt::CopyAction;
    }
    for (const QList<QVariant> &args : spy)
        outcome.announced << args.at(0).toString();
    return outcome;
}

std::unique_ptr<QMimeData> fileMime(const QStringList &paths)
{
    auto mime = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString &p : paths)
        urls.append(QUrl::fromLocalFile(p));
    mime->setUrls(urls);
    return mime;
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void bandCoversTopAtAnySize()
    {
        const QRgb band = qRgb(0x38, 0x89, 0xE9), under = qRgb(255, 0, 0);
        for (const QSize size : {QSize(300, 200), QSize(640, 90)}) {
            // On a red parent: whatever is not band stays red, since the view
            // paints nothing else.
            QWidget parent;
            QPalette palette = parent.palette();
            palette.setColor(QPalette::Window, QColor(under));
            parent.setPalette(palette);
            parent.setAutoFillBackground(true);
            parent.resize(size);
            (new QNSHeaderSheetView(&parent))->setGeometry(parent.rect());

            const QImage image = grabImage(&parent);
            const int w = size.width(), h = size.height();
            QCOMPARE(countPixels(image, QRect(0, 0, w, 70), band), w * 70);
            QCOMPARE(countPixels(image, QRect(0, 70, w, h - 70), under), w * (h - 70));
        }
    }

    void dragEnter_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("announced"); // null: refused

        QTest::newRow("mixed-case extension") << QStringList{"/d/x.VolPack"} << "/d/x.VolPack";
        QTest::newRow("folder with trailing slash")
            << QStringList{"/d/pack.volpack/"} << "/d/pack.volpack/";
        QTest::newRow("first of several files")
            << QStringList{"/d/a.volpack", "/d/b.iso"} << "/d/a.volpack";
        QTest::newRow("named volpack without a dot") << QStringList{"/d/volpack"} << QString();
        QTest::newRow("extension only in folder name")
            << QStringList{"/d.volpack/readme"} << QString();
        QTest::newRow("double extension") << QStringList{"/d/x.volpack.zip"} << QString();
        QTest::newRow("only the second file matches")
            << QStringList{"/d/a.iso", "/d/b.volpack"} << QString();
    }

    void dragEnter()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, announced);
        const DragOutcome outcome = drag(*fileMime(paths));
        QCOMPARE(outcome.enterAccepted, !announced.isNull());
        QCOMPARE(outcome.announced, announced.isNull() ? QStringList() : QStringList{announced});
    }

    void dropAnnouncesAgain()
    {
        const DragOutcome outcome = drag(*fileMime({"/d/x.volpack", "/d/y.volpack"}), true);
        QVERIFY(outcome.enterAccepted && outcome.dropAccepted);
        QCOMPARE(outcome.announced, QStringList({"/d/x.volpack", "/d/x.volpack"}));
    }

    void dropWithoutFilesAcceptedSilently()
    {
        // Neither text nor a web address names a file.
        QMimeData text, web;
        text.setText(QStringLiteral("just text"));
        web.setUrls({QUrl(QStringLiteral("https://example.org/x.volpack"))});
        for (const QMimeData *mime : {&text, &web}) {
            const DragOutcome outcome = drag(*mime, true);
            QVERIFY(outcome.enterAccepted && outcome.dropAccepted);
            QCOMPARE(outcome.announced, QStringList());
        }
    }

    void titleIsWhiteInEveryState()
    {
        QNSOvalButton button;
        // setTitle makes a title coloured some other way white.
        button.setStyledTitle(QStringLiteral("Save..."), Qt::red);
        button.setTitle(QStringLiteral("Cancel"));
        button.resize(160, 36);
        QCOMPARE(button.titleColor(), QColor(Qt::white));
        QVERIFY2(titlePixels(&button, whitish) > 15, "enabled");
        QCOMPARE(titlePixels(&button, reddish), 0);
        button.setDown(true);
        QVERIFY2(titlePixels(&button, whitish) > 15, "pressed");
        button.setDown(false);
        button.setEnabled(false);
        QVERIFY2(titlePixels(&button, whitish) > 15, "disabled");
    }

    void styledTitleKeepsItsColour()
    {
        QNSOvalButton button;
        button.setStyledTitle(QStringLiteral("Save..."), Qt::red);
        button.resize(160, 36);
        QVERIFY(titlePixels(&button, reddish) > 15);
        QCOMPARE(titlePixels(&button, whitish), 0);

        // Recolouring turns the same title white again.
        button.updateTitleColor();
        QCOMPARE(titlePixels(&button, reddish), 0);
        QVERIFY(titlePixels(&button, whitish) > 15);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
