#include "ProcessIdentity.h"

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct ProcessStat {
    char state = 0;
    uint64_t startTime = 0;
};

std::optional<ProcessStat> readStat(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[1024];
    const ssize_t got = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (got <= 0)
        return std::nullopt;
    buffer[got] = '\0';
    // The command name in parentheses may hold anything, ')' too: the
    // fields start after the last ')'. There: state, then 18 fields, then
    // the start time.
    const char *fields = std::strrchr(buffer, ')');
    ProcessStat stat;
    unsigned long long start = 0;
    if (!fields || std::sscanf(fields + 1,
                               " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s "
                               "%*s %*s %*s %*s %*s %llu",
                               &stat.state, &start) != 2)
        return std::nullopt;
    stat.startTime = start;
    return stat;
}

bool hasEnded(char state)
{
    return state == 'Z' || state == 'X' || state == 'x';
}

} // namespace

std::optional<ProcessIdentity> ProcessIdentity::of(pid_t pid)
{
    const std::optional<ProcessStat> stat = pid > 0 ? readStat(pid) : std::nullopt;
    if (!stat || hasEnded(stat->state))
        return std::nullopt;
    return ProcessIdentity{pid, stat->startTime};
}

bool ProcessIdentity::isRunning() const
{
    const std::optional<ProcessIdentity> now = of(pid);
    return now && *now == *this;
}

int ProcessIdentity::open() const
{
    if (pid <= 0)
        return -1;
    // By number: Debian 12's <sys/pidfd.h> declares no C linkage for C++.
    const int fd = int(syscall(SYS_pidfd_open, pid, 0));
    // Checked after the open: from here on the pid cannot be reused.
    if (fd >= 0 && !isRunning()) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ProcessIdentity::kill(int signal) const
{
    const int fd = open();
    if (fd < 0)
        return false;
    const bool sent = syscall(SYS_pidfd_send_signal, fd, signal, nullptr, 0) == 0;
    close(fd);
    return sent;
}
