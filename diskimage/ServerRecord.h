#pragma once

#include "ProcessIdentity.h"

#include <optional>
#include <string>

// What the FUSE server of a mount writes into its lock file: itself, and the
// process the mount is for (whose end ends the mount). The lock, not this
// text, tells whether the server is alive.
struct ServerRecord {
    ProcessIdentity server;
    std::optional<ProcessIdentity> owner;

    // "server PID START\nowner PID START\n"; the owner line only with an owner.
    std::string text() const;
    static std::optional<ServerRecord> parse(const std::string &text);
    // The record in a server's lock file; nothing when there is none.
    static std::optional<ServerRecord> read(const std::string &lockPath);
};
