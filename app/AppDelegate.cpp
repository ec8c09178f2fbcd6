#include "AppDelegate.h"

#include "Bundle.h"
#include "QNSPromoManager.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringDecoder>
#include <QTextCursor>
#include <QTextEdit>

namespace {

// The whole file as UTF-8; nothing when it cannot be read or is not UTF-8.
std::optional<QString> readUtf8File(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

} // namespace

AppDelegate::AppDelegate(QObject *parent) : QObject(parent) {}

QString AppDelegate::composeVersionInfo()
{
    // A missing key shows as "?" rather than leaving a gap in the text.
    const QString version = Bundle::infoValue(QStringLiteral("CFBundleShortVersionString"))
                                .value_or(QStringLiteral("?"));
    const QString build =
        Bundle::infoValue(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("?"));
    return tr("Version %1 (%2)").arg(version, build);
}

void AppDelegate::applicationDidFinishLaunching()
{
    m_versionInfo = composeVersionInfo();
    emit versionInfoChanged();
}

void AppDelegate::showLicenseWindow()
{
    std::optional<QString> text;
    if (const std::optional<QString> path =
            Bundle::pathForResource(QStringLiteral("eulaplusgpl"), QStringLiteral("txt")))
        text = readUtf8File(*path);

    if (m_licenseTextView) {
        m_licenseTextView->setPlainText(
            text.value_or(tr("The licence text could not be read. It is the file "
                             "eulaplusgpl.txt in the application's resources (%1).")
                              .arg(Bundle::resourcesPath())));
        // Coloured after the text is in, so the colour covers all of it.
        QTextCursor cursor(m_licenseTextView->document());
        cursor.select(QTextCursor::Document);
        QTextCharFormat format;
        format.setForeground(m_licenseTextView->palette().color(QPalette::ButtonText));
        cursor.mergeCharFormat(format);
        m_licenseTextView->moveCursor(QTextCursor::Start);
    }

    if (m_licenseWindow) {
        m_licenseWindow->show();
        m_licenseWindow->raise();
        m_licenseWindow->activateWindow();
    }
}

void AppDelegate::showPromotions()
{
    QNSPromoManager::sharedPromoManager()->showPromoWindow(this);
}
