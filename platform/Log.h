#pragma once

#include <QString>
#include <functional>

// Diagnostic log: one line per message, no prefix of our own. Lines go to the
// system log and, unless turned off, to standard error.
namespace Log {

void write(const QString &line);

// Mirror to standard error (on by default; the terminal front end turns it off
// unless asked to be verbose, so the log does not break its progress line).
void setEchoToStderr(bool echo);

// Tests capture every line with a sink; returns the previous sink.
using Sink = std::function<void(const QString &line)>;
Sink setSink(Sink sink);

} // namespace Log
