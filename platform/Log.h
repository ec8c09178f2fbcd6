#pragma once

#include <QString>
#include <functional>

// Diagnostic log: one line per message, no prefix of our own. Lines go to the
// system log (the user journal, at info level) and, unless turned off, to
// standard error.
namespace Log {

void write(const QString &line);

// Mirror to standard error (on by default; the terminal front end turns it off
// unless asked to be verbose, so the log does not break its progress line).
void setEchoToStderr(bool echo);

// Tests capture every line with a sink; returns the previous sink.
using Sink = std::function<void(const QString &line)>;
Sink setSink(Sink sink);

// Any number of listeners receive every line, on the thread that wrote it
// (a worker thread as often as the main one). Calls are made under a lock, so
// once removeListener() has returned the listener is never called again; a
// listener must therefore not write to the log itself.
using ListenerId = quint64;
ListenerId addListener(Sink listener);
void removeListener(ListenerId id);

} // namespace Log
