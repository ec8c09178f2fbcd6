#pragma once

#include <QList>
#include <QLocale>

class QCoreApplication;
class QTranslator;

namespace Translations {

// Installs Qt's own translation and isoswm's for `locale` (the user's by
// default) into `app`, each where one exists: Qt's from its translations
// folder, isoswm's from translations/ in the resources. Returns what was
// installed; the translators belong to `app`, and deleting one uninstalls it.
QList<QTranslator *> install(QCoreApplication &app, const QLocale &locale = QLocale());

} // namespace Translations
