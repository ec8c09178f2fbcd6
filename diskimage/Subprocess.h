#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Child processes of the disk tools: argument lists, never a shell.
namespace Subprocess {

// Starts argv[0] (an absolute path) with standard input and output on
// /dev/null and standard error on a new pipe, whose reading end goes to
// `stderrRead`. No other descriptor of ours reaches the child. A `detached`
// child leaves our session and process group, so it outlives us untouched by
// our terminal; any other child is killed when we end, however we end (the
// kernel cannot keep that promise for a set-user-ID program such as
// fusermount3). -1 when the pipe or fork fails.
pid_t spawn(const std::vector<std::string> &argv, int *stderrRead, bool detached);

// Reads `fd` to its end and closes it. A negative timeout waits forever;
// otherwise gives up after that many milliseconds and sets *timedOut. Stops
// early, too, once `wakeFd` (when given) becomes readable.
std::string readToEnd(int fd, int timeoutMs = -1, bool *timedOut = nullptr, int wakeFd = -1);

// Reads `fd` to its end and closes it, handing each line to `onLine` as soon
// as it is complete, without its newline (a last line without one too).
void readLines(int fd, const std::function<void(const std::string &)> &onLine);

// waitpid that retries after signals; the raw wait status, or -1.
int wait(pid_t pid);

// "exited with status 2", "was killed by signal 9 (Killed)".
std::string describe(int waitStatus);

// The folder of the running executable.
std::string ownDirectory();

// The first executable `name` on PATH, else the first of `fallbacks` that
// exists; empty when none does.
std::string findProgram(const std::string &name, const std::vector<std::string> &fallbacks);

// The first line of a tool's error text that says something, trimmed.
std::string firstLine(const std::string &text);

} // namespace Subprocess
