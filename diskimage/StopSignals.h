#pragma once

#include <csignal>

// While it lives, SIGTERM, SIGINT and SIGHUP do not end the process: each
// makes fd() readable instead, so that a wait in poll(2) can stop and undo
// what it started. One at a time per process.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    int fd() const;
    // The first signal received, or 0.
    int received() const;
};
