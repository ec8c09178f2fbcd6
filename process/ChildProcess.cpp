#include "ChildProcess.h"

#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace ChildProcess {

void dieWithParent(QProcess &process)
{
    // The death signal follows the thread that forked, so children must be
    // started from a thread that lives as long as the program: the main thread.
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        // The parent may have gone between fork and prctl.
        if (::getppid() != parent)
            ::_exit(128 + SIGTERM);
        // Out of the terminal's foreground group: a Ctrl-C reaches the program,
        // which stops its tools as a cancel, and not the tools behind its back.
        ::setpgid(0, 0);
    });
}

} // namespace ChildProcess
