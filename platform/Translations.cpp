#include "Translations.h"

#include "Bundle.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace Translations {

QList<QTranslator *> install(QCoreApplication &app, const QLocale &locale)
{
    const std::pair<QString, QString> catalogues[] = {
        {QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)},
        {QStringLiteral("isoswm"), Bundle::resourcesPath() + QStringLiteral("/translations")},
    };
    QList<QTranslator *> installed;
    for (const auto &[name, folder] : catalogues) {
        auto *translator = new QTranslator(&app);
        if (translator->load(locale, name, QStringLiteral("_"), folder) &&
            QCoreApplication::installTranslator(translator))
            installed << translator;
        else
            delete translator;
    }
    return installed;
}

} // namespace Translations
