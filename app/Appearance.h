#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>

class QApplication;

// The application's look: style, palette and icon, kept in one place so the
// window and the icon file agree.
namespace Appearance {

void apply(QApplication &app);

// The icon drawn in code: Qt reads SVG only through an optional plugin. The
// same drawing is installed as isoswm.svg for the desktop.
QIcon appIcon();

QColor secondaryButtonColor();
// A palette whose window text is the quieter colour used for hints.
QPalette secondaryTextPalette(QPalette base);

} // namespace Appearance
