#pragma once

#include <QString>
#include <QStringList>
#include <cstdio>

// Text laid out for the terminal it goes to.
namespace Terminal {

// The columns of the terminal on `fd`; 0 when it is not one.
int width(int fd);
// The columns `text` takes: East Asian letters take two.
int columns(const QString &text);
// `text` cut to at most `width` columns, "…" in place of what is cut.
QString elided(const QString &text, int width);
// `text` in lines of at most `width` columns, broken between words only (a
// word longer than that stands on a line of its own).
QStringList wrapped(const QString &text, int width);
// Writes `text` and a newline to `stream`, each of its lines after `indent`
// spaces and, on a terminal, wrapped between words to its width.
void print(FILE *stream, const QString &text, int indent = 0);

} // namespace Terminal
