#include "Appearance.h"

#include "QNSHeaderSheetView.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleFactory>

namespace Appearance {

void apply(QApplication &app)
{
    // Fusion draws every widget from the palette, so the desktop's palette,
    // light or dark, reaches menus and secondary windows alike. No colour is
    // forced here: a light palette on part of the application leaves the
    // desktop's light text on it under a dark theme.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    app.setWindowIcon(appIcon());
}

QColor secondaryButtonColor()
{
    return QColor(0x5B, 0x6B, 0x80);
}

namespace {

QColor mix(const QColor &a, const QColor &b, qreal aShare)
{
    const auto channel = [aShare](int x, int y) { return int(x * aShare + y * (1 - aShare)); };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

bool isDark(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightness() < 128;
}

} // namespace

QPalette secondaryTextPalette(QPalette base)
{
    // Quieter than the text but drawn from the same palette, so it stays
    // legible on a light window and a dark one.
    base.setColor(QPalette::WindowText,
                  mix(base.color(QPalette::WindowText), base.color(QPalette::Window), 0.65));
    return base;
}

QPalette linkPalette(QPalette base)
{
    const QColor band = QNSHeaderSheetView::bandColor();
    base.setColor(QPalette::ButtonText, isDark(base) ? band.lighter(140) : band.darker(115));
    return base;
}

QPalette progressPalette(QPalette base)
{
    base.setColor(QPalette::Highlight, QNSHeaderSheetView::bandColor());
    return base;
}

namespace {

// Drawn on a 64-unit square, as in isoswm.svg: a blue rounded tile, a white
// disc, and the disc's lower part set off as a separate piece.
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    p.setPen(Qt::NoPen);
    p.setBrush(QNSHeaderSheetView::bandColor());
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);

    // The disc, cut in two by a gap: the whole image and its split pieces.
    QPainterPath disc;
    disc.addEllipse(QPointF(32, 32), 21, 21);
    QPainterPath hole;
    hole.addEllipse(QPointF(32, 32), 5, 5);
    disc = disc.subtracted(hole);
    QPainterPath upper;
    upper.addRect(QRectF(0, 0, 64, 34));
    QPainterPath lower;
    lower.addRect(QRectF(0, 38, 64, 26));

    p.setBrush(Qt::white);
    p.drawPath(disc.intersected(upper));
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawPath(disc.intersected(lower));
    return pixmap;
}

} // namespace

QIcon appIcon()
{
    // Built on each call: a static icon would outlive the application object.
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(drawIcon(size));
    return icon;
}

} // namespace Appearance
