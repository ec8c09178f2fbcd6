#include "StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
volatile sig_atomic_t g_received = 0;
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[3];

void onSignal(int signal)
{
    if (!g_received)
        g_received = signal;
    const char byte = 0;
    const ssize_t ignored = write(g_pipe[1], &byte, 1);
    (void)ignored;
}

} // namespace

StopSignals::StopSignals()
{
    g_received = 0;
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_pipe[0] = g_pipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &action, &g_previous[i]);
}

StopSignals::~StopSignals()
{
    for (int i = 0; i < 3; ++i)
        sigaction(kSignals[i], &g_previous[i], nullptr);
    for (int &end : g_pipe) {
        if (end >= 0)
            close(end);
        end = -1;
    }
}

int StopSignals::fd() const
{
    return g_pipe[0];
}

int StopSignals::received() const
{
    return g_received;
}
