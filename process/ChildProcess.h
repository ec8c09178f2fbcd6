#pragma once

class QProcess;

namespace ChildProcess {

// Makes the process's children get SIGTERM when this process dies, even by
// SIGKILL, so no tool outlives the program that started it. Call before start().
void dieWithParent(QProcess &process);

} // namespace ChildProcess
