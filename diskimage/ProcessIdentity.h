#pragma once

#include <cstdint>
#include <optional>
#include <sys/types.h>

// A process told apart from a later one that reuses its pid: by its start
// time, in clock ticks after boot (field 22 of /proc/PID/stat).
struct ProcessIdentity {
    pid_t pid = 0;
    uint64_t startTime = 0;

    // The process running as `pid` now; nothing when there is none.
    static std::optional<ProcessIdentity> of(pid_t pid);
    // Still this very process, and not yet ended (a zombie has ended).
    bool isRunning() const;
    // A pidfd (close-on-exec) on this very process while it runs, else -1.
    // Once open it cannot come to name another process.
    int open() const;
    // Sends `signal` to this process, never to one that took over its pid.
    bool kill(int signal) const;

    bool operator==(const ProcessIdentity &other) const = default;
};
