#include "AnswerFile.h"

#include <QLocale>
#include <QProcess>
#include <QRegularExpression>
#include <QTimeZone>
#include <QXmlStreamWriter>
#include <functional>

namespace AnswerFile {

namespace {

const QString kWcm = QStringLiteral("http://schemas.microsoft.com/WMIConfig/2002/State");

// Desktop layouts and the Windows input locale (language:keyboard) each stands for.
const std::pair<const char *, const char *> kKeyboards[] = {
    {"us", "0409:00000409"}, {"gb", "0809:00000809"},    {"fr", "040c:0000040c"},
    {"de", "0407:00000407"}, {"es", "0c0a:0000040a"},    {"it", "0410:00000410"},
    {"pt", "0816:00000816"}, {"br", "0416:00010416"},    {"ch", "0807:00000807"},
    {"be", "080c:0000080c"}, {"nl", "0413:00020409"},    {"se", "041d:0000041d"},
    {"no", "0414:00000414"}, {"dk", "0406:00000406"},    {"fi", "040b:0000040b"},
    {"pl", "0415:00000415"}, {"cz", "0405:00000405"},    {"hu", "040e:0000040e"},
    {"ru", "0419:00000419"}, {"ua", "0422:00000422"},    {"tr", "041f:0000041f"},
    {"gr", "0408:00000408"}, {"jp", "0411:00000411"},    {"kr", "0412:00000412"},
    {"ca", "0c0c:00001009"}, {"latam", "080a:0000080a"}, {"ie", "1809:00001809"}};

class Writer {
public:
    Writer(QByteArray &out, QString architecture) : m_xml(&out), m_arch(std::move(architecture))
    {
        m_xml.setAutoFormatting(true);
        m_xml.writeStartDocument();
        m_xml.writeDefaultNamespace(QStringLiteral("urn:schemas-microsoft-com:unattend"));
        m_xml.writeNamespace(kWcm, QStringLiteral("wcm"));
        m_xml.writeStartElement(QStringLiteral("unattend"));
    }
    void end() { m_xml.writeEndDocument(); }

    void pass(const char *name, const std::function<void()> &components)
    {
        m_xml.writeStartElement(QStringLiteral("settings"));
        m_xml.writeAttribute(QStringLiteral("pass"), QLatin1String(name));
        components();
        m_xml.writeEndElement();
    }
    void component(const char *name, const std::function<void()> &settings)
    {
        m_xml.writeStartElement(QStringLiteral("component"));
        m_xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
        m_xml.writeAttribute(QStringLiteral("processorArchitecture"), m_arch);
        m_xml.writeAttribute(QStringLiteral("publicKeyToken"), QStringLiteral("31bf3856ad364e35"));
        m_xml.writeAttribute(QStringLiteral("language"), QStringLiteral("neutral"));
        m_xml.writeAttribute(QStringLiteral("versionScope"), QStringLiteral("nonSxS"));
        settings();
        m_xml.writeEndElement();
    }
    void open(const char *name, bool added = false)
    {
        m_xml.writeStartElement(QLatin1String(name));
        if (added)
            m_xml.writeAttribute(kWcm, QStringLiteral("action"), QStringLiteral("add"));
    }
    void close() { m_xml.writeEndElement(); }
    // Escaped as XML wants it, whatever the value holds; an empty one is
    // left out unless it is meant.
    void value(const char *name, const QString &text, bool evenEmpty = false)
    {
        if (!text.isEmpty() || evenEmpty)
            m_xml.writeTextElement(QLatin1String(name), text);
    }
    // Commands run in order: RunSynchronousCommand (Path) or SynchronousCommand (CommandLine).
    void commands(const char *list, const char *item, const char *field, const QStringList &lines)
    {
        open(list);
        for (int i = 0; i < lines.size(); ++i) {
            open(item, true);
            value("Order", QString::number(i + 1));
            value(field, lines[i]);
            close();
        }
        close();
    }

private:
    QXmlStreamWriter m_xml;
    QString m_arch;
};

void shellSetup(Writer &w, const SetupOptions &o, const Regional &regional)
{
    const bool account = !o.localAccount.isEmpty();
    if (account || o.skipPrivacyQuestions) {
        w.open("OOBE");
        if (o.skipPrivacyQuestions)
            w.value("HideEULAPage", QStringLiteral("true"));
        if (account) {
            w.value("HideOnlineAccountScreens", QStringLiteral("true"));
            w.value("HideWirelessSetupInOOBE", QStringLiteral("true"));
        }
        if (o.skipPrivacyQuestions)
            w.value("ProtectYourPC", QStringLiteral("3"));
        w.close();
    }
    if (account) {
        w.open("UserAccounts");
        w.open("LocalAccounts");
        w.open("LocalAccount", true);
        w.value("Name", o.localAccount);
        w.value("Group", QStringLiteral("Administrators"));
        // An empty password: setup finishes without asking, and the first
        // command below makes Windows ask for a new one at the next sign-in.
        w.open("Password");
        w.value("Value", QString(), true);
        w.value("PlainText", QStringLiteral("true"));
        w.close();
        w.close();
        w.close();
        w.close();
        // The name holds no '"' (Windows refuses it), so quoting keeps it one argument.
        w.commands("FirstLogonCommands", "SynchronousCommand", "CommandLine",
                   {QStringLiteral("net user \"%1\" /logonpasswordchg:yes").arg(o.localAccount),
                    QStringLiteral("net accounts /maxpwage:unlimited")});
    }
    if (o.regionalSettingsFromThisComputer && !regional.timeZone.isEmpty())
        w.value("TimeZone", regional.timeZone);
}

} // namespace

QString inputLocaleFor(const QString &x11Layout)
{
    for (const auto &[layout, locale] : kKeyboards) {
        if (x11Layout == QLatin1String(layout))
            return QLatin1String(locale);
    }
    return QString();
}

Regional fromThisComputer(const QStringList &imageLanguages)
{
    Regional regional;
    regional.timeZone =
        QString::fromLatin1(QTimeZone::ianaIdToWindowsId(QTimeZone::systemTimeZoneId()));
    QString locale = QLocale::system().name().replace(QLatin1Char('_'), QLatin1Char('-'));
    if (locale != QLatin1String("C"))
        regional.locale = locale;
    for (const QString &language : imageLanguages) {
        if (language.compare(locale, Qt::CaseInsensitive) == 0)
            regional.uiLanguage = language;
    }
    QProcess localectl;
    localectl.start(QStringLiteral("/usr/bin/localectl"), {QStringLiteral("status")});
    if (localectl.waitForFinished(5000) && localectl.exitCode() == 0) {
        static const QRegularExpression line(QStringLiteral("X11 Layout:\\s*([a-z]+)"));
        const auto match = line.match(QString::fromUtf8(localectl.readAllStandardOutput()));
        if (match.hasMatch())
            regional.inputLocale = inputLocaleFor(match.captured(1));
    }
    return regional;
}

QByteArray make(const SetupOptions &o, const QString &architecture, const Regional &regional)
{
    QByteArray out;
    Writer w(out, architecture);
    QStringList specialize;
    if (!o.localAccount.isEmpty())
        specialize << QStringLiteral("reg add HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                                     "OOBE /v BypassNRO /t REG_DWORD /d 1 /f");
    if (o.noDeviceEncryption)
        specialize << QStringLiteral("reg add HKLM\\SYSTEM\\CurrentControlSet\\Control\\BitLocker "
                                     "/v PreventDeviceEncryption /t REG_DWORD /d 1 /f");
    if (!specialize.isEmpty())
        w.pass("specialize", [&] {
            w.component("Microsoft-Windows-Deployment", [&] {
                w.commands("RunSynchronous", "RunSynchronousCommand", "Path", specialize);
            });
        });
    const bool regionalOn =
        o.regionalSettingsFromThisComputer &&
        !(regional.locale + regional.inputLocale + regional.uiLanguage).isEmpty();
    const bool shell = !o.localAccount.isEmpty() || o.skipPrivacyQuestions ||
                       (o.regionalSettingsFromThisComputer && !regional.timeZone.isEmpty());
    if (regionalOn || shell)
        w.pass("oobeSystem", [&] {
            if (regionalOn)
                w.component("Microsoft-Windows-International-Core", [&] {
                    w.value("InputLocale", regional.inputLocale);
                    w.value("SystemLocale", regional.locale);
                    w.value("UILanguage", regional.uiLanguage);
                    w.value("UserLocale", regional.locale);
                });
            if (shell)
                w.component("Microsoft-Windows-Shell-Setup", [&] { shellSetup(w, o, regional); });
        });
    w.end();
    return out;
}

} // namespace AnswerFile
