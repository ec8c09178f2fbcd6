#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"

#include <QtTest>

// Pixels of the widget as painted, within `area`, of `colour` to 4 bits a channel.
static int countPixels(QWidget *widget, const QRect &area, const QColor &colour)
{
    const QImage image = widget->grab().toImage();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += (image.pixel(x, y) & 0xf0f0f0) == (colour.rgb() & 0xf0f0f0);
    return count;
}

class TestControls : public QObject {
    Q_OBJECT

private slots:
    // On red: the band covers the top 70 pixels at any width, and nothing else; a
    // title stays white when disabled, where the style greys it; focus shows a ring.
    void painting()
    {
        QWidget window;
        window.setPalette(QPalette(Qt::red, Qt::red));
        window.setAutoFillBackground(true);
        window.resize(900, 200);
        (new QNSHeaderSheetView(&window))->setGeometry(0, 0, 900, 90);
        auto *button = new QNSOvalButton("Save...", &window);
        button->setGeometry(0, 100, 160, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(countPixels(&window, {0, 0, 900, 70}, {0x38, 0x89, 0xE9}), 900 * 70);
        QCOMPARE(countPixels(&window, {0, 70, 900, 30}, Qt::red), 900 * 30);
        const QColor ring = button->palette().color(QPalette::Highlight);
        window.setFocus();
        QCOMPARE(countPixels(button, {40, 0, 80, 2}, ring), 0);
        button->setFocus();
        QVERIFY(countPixels(button, {40, 0, 80, 2}, ring) > 40);
        button->setEnabled(false);
        QVERIFY(countPixels(button, {20, 3, 120, 34}, Qt::white) > 15);
    }

    // A ".volpack" first (its last component's extension, in any case) is taken
    // as a copy and announced on entry, anything else refused; a drop announces
    // the first file again; a web address is taken and never announced.
    void drag_data()
    {
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<int>("announced"); // times the first file is; taken if any, or dropped
        QTest::newRow("two dots, mixed case") << QStringList{"file:/d/a.b.VolPack"} << false << 1;
        QTest::newRow("folder, trailing slash") << QStringList{"file:/d/p.volpack/"} << false << 1;
        QTest::newRow("no dot") << QStringList{"file:/d/volpack"} << false << 0;
        QTest::newRow("in a folder's name") << QStringList{"file:/d.volpack/x"} << false << 0;
        QTest::newRow("second of two") << QStringList{"file:/a", "file:/b.volpack"} << false << 0;
        QTest::newRow("dropped") << QStringList{"file:/x.volpack", "file:/y.volpack"} << true << 2;
        QTest::newRow("web address dropped") << QStringList{"https://e.org/x.volpack"} << true << 0;
    }
    void drag()
    {
        QFETCH(QStringList, urls);
        QFETCH(bool, drop);
        QFETCH(int, announced);
        QMimeData mime;
        mime.setUrls(QUrl::fromStringList(urls));
        QNSHeaderSheetView view;
        QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);
        QDragEnterEvent enter({10, 10}, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QDropEvent dropped({10, 10}, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&view, &enter);
        if (drop)
            QCoreApplication::sendEvent(&view, &dropped);
        QCOMPARE(enter.isAccepted() && enter.dropAction() == Qt::CopyAction &&
                     (!drop || (dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction)),
                 drop || announced > 0);
        QCOMPARE(QList<QVariantList>(spy),
                 QList<QVariantList>(announced, {QUrl(urls.first()).toLocalFile()}));
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
