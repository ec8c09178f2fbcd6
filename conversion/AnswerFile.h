#pragma once

#include "SetupOptions.h"

#include <QString>
#include <QStringList>

// The answer file Windows Setup reads from sources/$OEM$/$$/Panther once it
// has copied Windows: only what the chosen options need, in the specialize
// and oobeSystem passes. No password is ever written into it.
namespace AnswerFile {

// Where it goes, relative to the sources folder.
inline constexpr char kRelativePath[] = "$OEM$/$$/Panther/unattend.xml";

// Language, keyboard, formats and time zone, in Windows' names; an empty
// field is left out of the file.
struct Regional {
    QString timeZone;    // "W. Europe Standard Time"
    QString locale;      // BCP 47, "fr-FR": the formats and the system locale
    QString inputLocale; // "040c:0000040c"
    QString uiLanguage;  // only a language the image carries
};

// This computer's: its time zone, locale and the desktop's keyboard layout;
// the display language only when it is one of `imageLanguages`.
Regional fromThisComputer(const QStringList &imageLanguages);

// The Windows input locale for an X11 keyboard layout ("fr": "040c:0000040c"),
// empty when the layout is not one it knows.
QString inputLocaleFor(const QString &x11Layout);

// The whole file, UTF-8. `architecture` is "amd64" or "arm64".
QByteArray make(const SetupOptions &options, const QString &architecture, const Regional &regional);

} // namespace AnswerFile
