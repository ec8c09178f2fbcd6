#include "Subprocess.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace Subprocess {

pid_t spawn(const std::vector<std::string> &argv, int *stderrRead, bool detached)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    // Built before fork: the child only calls async-signal-safe functions.
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        if (detached)
            setsid();
        // Had we ended before the prctl, the child would be an orphan already.
        else if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(127);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
        }
        dup2(fds[1], STDERR_FILENO);
        // Inherited descriptors of our caller (its pipes above all) stay behind.
        close_range(3, ~0U, 0);
        execv(args[0], args.data());
        const char *reason = std::strerror(errno);
        const ssize_t ignored1 = write(STDERR_FILENO, "cannot start ", 13);
        const ssize_t ignored2 = write(STDERR_FILENO, args[0], std::strlen(args[0]));
        const ssize_t ignored3 = write(STDERR_FILENO, ": ", 2);
        const ssize_t ignored4 = write(STDERR_FILENO, reason, std::strlen(reason));
        (void)ignored1, (void)ignored2, (void)ignored3, (void)ignored4;
        _exit(127);
    }
    ::close(fds[1]);
    *stderrRead = fds[0];
    return pid;
}

std::string readToEnd(int fd, int timeoutMs, bool *timedOut, int wakeFd)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    if (timedOut)
        *timedOut = false;
    std::string text;
    char buffer[4096];
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                if (timedOut)
                    *timedOut = true;
                break;
            }
            wait = int(std::min<long long>(left.count(), INT_MAX));
        }
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const int ready = poll(p, wakeFd >= 0 ? 2 : 1, wait);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || (wakeFd >= 0 && p[1].revents))
            break;
        if (ready == 0)
            continue;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, std::size_t(got));
    }
    ::close(fd);
    return text;
}

void readLines(int fd, const std::function<void(const std::string &)> &onLine)
{
    // A tool that never ends its line still cannot make us hold all it says.
    constexpr std::size_t kLongestLine = 64 * 1024;
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        pending.append(buffer, std::size_t(got));
        std::size_t start = 0;
        for (std::size_t end; (end = pending.find('\n', start)) != std::string::npos;
             start = end + 1)
            onLine(pending.substr(start, end - start));
        pending.erase(0, start);
        if (pending.size() > kLongestLine) {
            onLine(pending);
            pending.clear();
        }
    }
    if (!pending.empty())
        onLine(pending);
    ::close(fd);
}

int wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

std::string describe(int waitStatus)
{
    if (waitStatus == -1)
        return "could not be waited for";
    if (WIFEXITED(waitStatus))
        return "exited with status " + std::to_string(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus)) {
        const int sig = WTERMSIG(waitStatus);
        const char *name = strsignal(sig);
        return "was killed by signal " + std::to_string(sig) +
               (name ? " (" + std::string(name) + ")" : "");
    }
    return "ended abnormally";
}

std::string ownDirectory()
{
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return ".";
    std::string path(buffer, std::size_t(length));
    return path.substr(0, path.rfind('/'));
}

std::string findProgram(const std::string &name, const std::vector<std::string> &fallbacks)
{
    if (const char *path = std::getenv("PATH")) {
        std::istringstream folders(path);
        std::string folder;
        while (std::getline(folders, folder, ':')) {
            if (folder.empty() || folder[0] != '/')
                continue;
            const std::string candidate = folder + '/' + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
    }
    for (const std::string &candidate : fallbacks) {
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return std::string();
}

std::string firstLine(const std::string &text)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos)
            continue;
        const auto last = line.find_last_not_of(" \t\r");
        return line.substr(first, last - first + 1);
    }
    return std::string();
}

} // namespace Subprocess
