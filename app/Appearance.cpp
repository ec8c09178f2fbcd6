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
    // Fusion looks the same on every desktop and honours the palette below.
    if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        app.setStyle(fusion);
    QPalette palette = app.style()->standardPalette();
    palette.setColor(QPalette::Window, QColor(0xF5, 0xF7, 0xFA));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Highlight, QNSHeaderSheetView::bandColor());
    palette.setColor(QPalette::Link, QNSHeaderSheetView::bandColor().darker(115));
    app.setPalette(palette);
    app.setWindowIcon(appIcon());
}

QColor secondaryButtonColor()
{
    return QColor(0x5B, 0x6B, 0x80);
}

QPalette secondaryTextPalette(QPalette base)
{
    base.setColor(QPalette::WindowText, QColor(0x6B, 0x72, 0x80));
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
