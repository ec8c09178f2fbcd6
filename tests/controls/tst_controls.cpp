#include "QNSHeaderSheetView.h"
#include "QNSOvalButton.h"

#include <QtTest>

namespace {

QImage grabImage(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int countPixels(const QImage &image, const QRect &area, const std::function<bool(QColor)> &wanted)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += wanted(image.pixelColor(x, y));
    return count;
}

std::function<bool(QColor)> exactly(const QColor &colour)
{
    return [colour](QColor c) { return c.rgb() == colour.rgb(); };
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT

private slots:
    void bandCoversTopAtAnySize()
    {
        const QColor band(0x38, 0x89, 0xE9), under(Qt::red);
        for (const QSize size : {QSize(300, 200), QSize(640, 90)}) {
            // On a red parent: whatever is not band stays red, since the view
            // paints nothing else.
            QWidget parent;
            parent.setPalette(QPalette(under, under));
            parent.setAutoFillBackground(true);
            parent.resize(size);
            (new QNSHeaderSheetView(&parent))->setGeometry(parent.rect());
            const QImage image = grabImage(&parent);
            const int w = size.width(), h = size.height();
            QCOMPARE(countPixels(image, QRect(0, 0, w, 70), exactly(band)), w * 70);
            QCOMPARE(countPixels(image, QRect(0, 70, w, h - 70), exactly(under)), w * (h - 70));
        }
    }

    void drag_data()
    {
        QTest::addColumn<QStringList>("files"); // "http..." is a web address; none: text
        QTest::addColumn<bool>("drop");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QStringList>("announced");
        const auto refused = [](const char *name, const QStringList &files) {
            QTest::newRow(name) << files << false << false << QStringList();
        };
        QTest::newRow("mixed-case extension")
            << QStringList{"/d/x.VolPack"} << false << true << QStringList{"/d/x.VolPack"};
        QTest::newRow("folder with trailing slash")
            << QStringList{"/d/p.volpack/"} << false << true << QStringList{"/d/p.volpack/"};
        QTest::newRow("first of several files") << QStringList{"/d/a.volpack", "/d/b.iso"} << false
                                                << true << QStringList{"/d/a.volpack"};
        refused("named volpack without a dot", {"/d/volpack"});
        refused("extension only in folder name", {"/d.volpack/readme"});
        refused("double extension", {"/d/x.volpack.zip"});
        refused("only the second file matches", {"/d/a.iso", "/d/b.volpack"});
        QTest::newRow("dropped: announced again")
            << QStringList{"/d/x.volpack", "/d/y.volpack"} << true << true
            << QStringList{"/d/x.volpack", "/d/x.volpack"};
        QTest::newRow("text dropped") << QStringList() << true << true << QStringList();
        QTest::newRow("web address dropped")
            << QStringList{"https://example.org/x.volpack"} << true << true << QStringList();
    }

    void drag()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, drop);
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString &f : files)
            urls << (f.startsWith("http") ? QUrl(f) : QUrl::fromLocalFile(f));
        files.isEmpty() ? mime.setText("just text") : mime.setUrls(urls);
        QNSHeaderSheetView view;
        QSignalSpy spy(&view, &QNSHeaderSheetView::fileDropped);
        QDragEnterEvent enter({10, 10}, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QCoreApplication::sendEvent(&view, &enter);
        bool accepted = enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
        if (drop) {
            QDropEvent event({10, 10}, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
            QCoreApplication::sendEvent(&view, &event);
            accepted = accepted && event.isAccepted() && event.dropAction() == Qt::CopyAction;
        }
        QStringList announced;
        for (const QList<QVariant> &args : spy)
            announced << args.at(0).toString();
        QTEST(accepted, "accepted");
        QTEST(announced, "announced");
    }

    void titleColours()
    {
        QNSOvalButton button;
        button.resize(160, 40);
        // A title with a colour of its own keeps it; setTitle() and
        // updateTitleColor() make any title white.
        button.setStyledTitle("Save...", Qt::red);
        QCOMPARE(button.titleColor(), QColor(Qt::red));
        button.updateTitleColor();
        QCOMPARE(button.titleColor(), QColor(Qt::white));
        button.setStyledTitle("Save...", Qt::red);
        button.setTitle("Cancel");
        QCOMPARE(button.titleColor(), QColor(Qt::white));
        // Painted white even when disabled, where the style would grey it; the
        // oval's corners and its fill are not white.
        button.setEnabled(false);
        const auto white = [](QColor c) { return qMin(c.red(), qMin(c.green(), c.blue())) >= 235; };
        QVERIFY(countPixels(grabImage(&button), QRect(20, 3, 120, 34), white) > 15);
    }

    void focusedButtonShowsRing()
    {
        QWidget window;
        auto *button = new QNSOvalButton("Save...", &window);
        auto *other = new QNSOvalButton("Select...", &window);
        button->setGeometry(0, 0, 160, 40);
        other->setGeometry(0, 50, 160, 40);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        // The ring lies outside the oval: along the top edge, above the fill.
        const QColor ring = button->palette().color(QPalette::Highlight);
        other->setFocus();
        QCOMPARE(countPixels(grabImage(button), QRect(40, 0, 80, 2), exactly(ring)), 0);
        button->setFocus();
        QVERIFY(countPixels(grabImage(button), QRect(40, 0, 80, 2), exactly(ring)) > 40);
    }
};

QTEST_MAIN(TestControls)
#include "tst_controls.moc"
