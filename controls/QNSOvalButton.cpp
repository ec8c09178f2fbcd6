#include "QNSOvalButton.h"

#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int kHorizontalPadding = 22;
constexpr int kMinimumHeight = 36;
constexpr qreal kRingWidth = 3.5;
} // namespace

QNSOvalButton::QNSOvalButton(QWidget *parent) : QNSOvalButton(QString(), parent) {}

QNSOvalButton::QNSOvalButton(const QString &title, QWidget *parent) : QPushButton(title, parent)
{
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    // A title given before the button is shown is white from the start.
    updateTitleColor();
}

void QNSOvalButton::setTitle(const QString &title)
{
    QPushButton::setText(title);
    updateTitleColor();
}

void QNSOvalButton::updateTitleColor()
{
    m_titleColor = Qt::white;
    update();
}

void QNSOvalButton::setStyledTitle(const QString &title, const QColor &color)
{
    QPushButton::setText(title);
    m_titleColor = color;
    update();
}

void QNSOvalButton::setFillColor(const QColor &color)
{
    m_fillColor = color;
    update();
}

QSize QNSOvalButton::sizeHint() const
{
    ensurePolished();
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text());
    const int height = qMax(kMinimumHeight, metrics.height() + 18);
    return {qMax(textWidth + 2 * kHorizontalPadding, 2 * height), height};
}

QSize QNSOvalButton::minimumSizeHint() const
{
    return sizeHint();
}

QColor QNSOvalButton::currentFill() const
{
    if (!isEnabled()) {
        // Greyed but dark enough that the white title stays legible.
        return QColor::fromHsvF(m_fillColor.hsvHueF(), m_fillColor.hsvSaturationF() * 0.3f,
                                m_fillColor.valueF() * 0.72f);
    }
    if (isDown() || isChecked())
        return m_fillColor.darker(125);
    if (underMouse())
        return m_fillColor.lighter(110);
    return m_fillColor;
}

void QNSOvalButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The oval leaves room at its edge for the focus ring, which is drawn
    // outside it with a gap, in the palette's highlight, so it shows on any
    // fill colour.
    const QRectF body = QRectF(rect()).adjusted(kRingWidth, kRingWidth, -kRingWidth, -kRingWidth);
    const qreal radius = body.height() / 2;
    QPainterPath oval;
    oval.addRoundedRect(body, radius, radius);
    painter.fillPath(oval, currentFill());

    if (hasFocus()) {
        const QRectF ring = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRoundedRect(ring, ring.height() / 2, ring.height() / 2);
    }

    // Drawn here rather than by the style, which would pick a palette colour
    // (grey when disabled) instead of the title's own.
    painter.setPen(m_titleColor);
    painter.setFont(font());
    painter.drawText(rect().adjusted(kHorizontalPadding / 2, 0, -kHorizontalPadding / 2, 0),
                     Qt::AlignCenter | Qt::TextShowMnemonic, text());
}
