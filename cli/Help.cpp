#include "Help.h"

#include "Arguments.h"
#include "Terminal.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

using Entries = QList<QPair<QString, QString>>;

const char *const kDescription = QT_TRANSLATE_NOOP(
    "IsoswmCli", "Makes DESTINATION.iso, a copy of the Windows installation image SOURCE.iso in "
                 "which sources/install.wim (or install.esd) is split into install.swm pieces of "
                 "at most 2048 MB, so that the installer fits on FAT32 media.\n"
                 "Progress shows as one updating line on a terminal and otherwise as a plain "
                 "line per stage; alerts and errors go to standard error. Ctrl-C (or SIGTERM, "
                 "SIGHUP) cancels the conversion and waits until its temporary files are "
                 "removed.\n"
                 "With --drive, a USB drive is made the Windows installer instead: everything "
                 "on it is erased, and it gets a FAT32 file system with the image's files and "
                 "the pieces, which computers start from with UEFI. The disk service (UDisks2) "
                 "opens the drive; polkit may ask for a password, as for restoring a disk "
                 "image.\n"
                 "Exit status: 0 when the new image was written, 1 when the conversion failed, "
                 "2 for wrong usage, 130 when it was cancelled.");

Entries options()
{
    return {{QStringLiteral("--force"),
             Cli::tr("Replace DESTINATION.iso if it exists; the old file stays as it was until "
                     "the new image is complete.")},
            {QStringLiteral("--verbose"), Cli::tr("Show the diagnostic log on standard error.")},
            {QStringLiteral("--direct"),
             Cli::tr("Split and build straight from the mounted image, without a staging "
                     "copy: less temporary space and fewer bytes written.")},
            {QStringLiteral("--bootable"),
             Cli::tr("Keep the boot records of the source, so the new image boots like it "
                     "(BIOS and UEFI).")},
            {QStringLiteral("--list-drives"),
             Cli::tr("List the drives a Windows installer could be written to (removable "
                     "drives and disk images attached as loop devices), one a line, and "
                     "exit.")},
            {QStringLiteral("--drive DEVICE"),
             Cli::tr("Make the drive DEVICE (its /dev path, a whole drive) the Windows "
                     "installer, instead of DESTINATION.iso. On a terminal it asks first.")},
            {QStringLiteral("--temporary-folder DIR"),
             Cli::tr("Make the large temporary files in DIR instead of TMPDIR or /var/tmp. A "
                     "conversion needs about twice the image's size there (--direct about "
                     "once), a USB drive about once to twice.")},
            {QStringLiteral("--yes"),
             Cli::tr("Erase the drive without asking; needed when standard input is not a "
                     "terminal.")},
            {QStringLiteral("-h, --help"), Cli::tr("Show this help and exit.")},
            {QStringLiteral("-v, --version"), Cli::tr("Show the version and exit.")}};
}

// Off by default; each changes only what it names inside the new image.
Entries setupOptions()
{
    return {{QStringLiteral("--skip-hardware-checks"),
             Cli::tr("Windows Setup does not check TPM, Secure Boot, memory or processor "
                     "(LabConfig values in boot.wim's registry).")},
            {QStringLiteral("--local-account NAME"),
             Cli::tr("Setup creates the local administrator NAME and asks for no Microsoft "
                     "account and no network. No password is stored on the media: Windows "
                     "asks for one at the second sign-in.")},
            {QStringLiteral("--skip-privacy-questions"),
             Cli::tr("The privacy questions are answered with the most private choice and "
                     "the licence page is not shown.")},
            {QStringLiteral("--no-device-encryption"),
             Cli::tr("Windows does not turn on device encryption by itself.")},
            {QStringLiteral("--regional-settings-from-this-computer"),
             Cli::tr("Language, keyboard, formats and time zone as on this computer.")}};
}

Entries arguments()
{
    return {{QStringLiteral("SOURCE.iso"), Cli::tr("The image to convert.")},
            {QStringLiteral("DESTINATION.iso"), Cli::tr("The new image.")}};
}

// The usage lines and the description, each paragraph wrapped between words.
QString introduction(int width)
{
    QString text = Cli::tr("Usage: %1 [options] SOURCE.iso DESTINATION.iso")
                       .arg(QCoreApplication::applicationName()) +
                   QLatin1Char('\n') +
                   Cli::tr("       %1 [options] --drive DEVICE SOURCE.iso")
                       .arg(QCoreApplication::applicationName()) +
                   QLatin1Char('\n');
    for (const QString &paragraph : Cli::tr(kDescription).split(QLatin1Char('\n')))
        text += QLatin1Char('\n') + Terminal::wrapped(paragraph, width).join(QLatin1Char('\n')) +
                QLatin1Char('\n');
    return text;
}

// A titled list of names, each with its description wrapped beside it.
QString section(const QString &title, const Entries &entries, qsizetype nameWidth, int width)
{
    const QString indent(nameWidth + 4, QLatin1Char(' '));
    QString text = QLatin1Char('\n') + title + QLatin1Char('\n');
    for (const auto &[names, description] : entries) {
        const QStringList lines = Terminal::wrapped(description, int(width - indent.size()));
        // A name too long for the column has a line of its own.
        const QString name = names.size() > nameWidth ? names + QLatin1Char('\n') + indent
                                                      : names.leftJustified(nameWidth + 2);
        text += QStringLiteral("  ") + name + lines.join(QLatin1Char('\n') + indent) +
                QLatin1Char('\n');
    }
    return text;
}

} // namespace

// The help, laid out for the terminal it goes to (80 columns at most): each
// paragraph and each option's description wrapped between words.
void printHelp()
{
    const int columns = Terminal::width(STDOUT_FILENO);
    const int width = std::clamp(columns > 0 ? columns - 1 : 79, 40, 79);
    const Entries options = ::options(), arguments = ::arguments(), setup = setupOptions();
    qsizetype nameWidth = 0;
    for (const auto &entries : {options, arguments})
        for (const auto &[names, description] : entries)
            nameWidth = std::max(nameWidth, names.size());
    // The longest setup option gets its own line's worth of name.
    qsizetype setupWidth = 0;
    for (const auto &[names, description] : setup)
        setupWidth = std::max(setupWidth, std::min(names.size(), qsizetype(24)));
    const QString text =
        introduction(width) + section(Cli::tr("Options:"), options, nameWidth, width) +
        section(Cli::tr("Windows Setup options (all off by default):"), setup, setupWidth, width) +
        section(Cli::tr("Arguments:"), arguments, nameWidth, width);
    std::fputs(qPrintable(text), stdout);
}
