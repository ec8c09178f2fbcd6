#pragma once

class QProcess;

namespace ChildProcess {

// Makes the process's children get SIGTERM when this process dies, even by
// SIGKILL, so no tool outlives the program that started it; and puts them in a
// process group of their own, so that the terminal's Ctrl-C is the program's
// alone to act on. Call before start().
void dieWithParent(QProcess &process);

} // namespace ChildProcess
