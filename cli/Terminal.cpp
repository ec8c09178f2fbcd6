#include "Terminal.h"

#include <algorithm>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

namespace Terminal {

int width(int fd)
{
    winsize size{};
    if (!::isatty(fd) || ::ioctl(fd, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col > 0 ? size.ws_col : 80;
}

int columns(const QString &text)
{
    int n = 0;
    for (const char32_t c : text.toUcs4())
        n += std::max(1, ::wcwidth(wchar_t(c)));
    return n;
}

QString elided(const QString &text, int width)
{
    if (columns(text) <= width)
        return text;
    QString kept;
    int used = 1;
    for (const char32_t c : text.toUcs4()) {
        used += std::max(1, ::wcwidth(wchar_t(c)));
        if (used > width)
            break;
        kept += QString::fromUcs4(&c, 1);
    }
    return width > 0 ? kept + QStringLiteral("…") : QString();
}

QStringList wrapped(const QString &text, int width)
{
    QStringList lines(QString{});
    for (const QString &word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        QString &line = lines.last();
        if (!line.isEmpty() && columns(line) + 1 + columns(word) > width)
            lines << word;
        else
            line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return lines;
}

void print(FILE *stream, const QString &text, int indent)
{
    const int columns = width(::fileno(stream));
    const QString margin(indent, QLatin1Char(' '));
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        const QStringList lines =
            columns > 0 ? wrapped(paragraph, columns - 1 - indent) : QStringList{paragraph};
        for (const QString &line : lines)
            std::fprintf(stream, "%s%s\n", qPrintable(margin), line.toUtf8().constData());
    }
    std::fflush(stream);
}

} // namespace Terminal
