#pragma once

#include <QColor>
#include <QPushButton>

// A push button drawn as a filled oval whose title is white in every state.
// setTitle() always recolours the title white; a title set with setStyledTitle()
// keeps the colour it was given.
class QNSOvalButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(QColor titleColor READ titleColor)
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)

public:
    explicit QNSOvalButton(QWidget *parent = nullptr);
    explicit QNSOvalButton(const QString &title, QWidget *parent = nullptr);

    QString title() const { return text(); }
    // Sets the title, then recolours it white.
    void setTitle(const QString &title);
    // Recolours the current title white.
    void updateTitleColor();

    // A title with a colour of its own; shown as given. Does not go through
    // setTitle(), so the colour is not replaced.
    void setStyledTitle(const QString &title, const QColor &color);
    QColor titleColor() const { return m_titleColor; }

    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor currentFill() const;

    QColor m_titleColor;
    QColor m_fillColor{0x38, 0x89, 0xE9};
};
