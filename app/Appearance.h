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
// `base` with a quieter window text, for hints.
QPalette secondaryTextPalette(QPalette base);
// `base` with a button text in the band's blue, for a flat button that reads as a link.
QPalette linkPalette(QPalette base);
// `base` with the band's blue as the progress bar's fill.
QPalette progressPalette(QPalette base);

} // namespace Appearance
