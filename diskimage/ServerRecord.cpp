#include "ServerRecord.h"

#include <fcntl.h>
#include <sstream>
#include <unistd.h>

std::string ServerRecord::text() const
{
    std::string text =
        "server " + std::to_string(server.pid) + ' ' + std::to_string(server.startTime) + '\n';
    if (owner)
        text +=
            "owner " + std::to_string(owner->pid) + ' ' + std::to_string(owner->startTime) + '\n';
    return text;
}

std::optional<ServerRecord> ServerRecord::parse(const std::string &text)
{
    std::istringstream lines(text);
    std::string key;
    ProcessIdentity process;
    std::optional<ServerRecord> record;
    while (lines >> key >> process.pid >> process.startTime) {
        if (process.pid <= 0)
            return std::nullopt;
        if (key == "server" && !record)
            record = ServerRecord{process, std::nullopt};
        else if (key == "owner" && record && !record->owner)
            record->owner = process;
        else
            return std::nullopt;
    }
    return lines.eof() ? record : std::nullopt;
}

std::optional<ServerRecord> ServerRecord::read(const std::string &lockPath)
{
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    char buffer[256];
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    close(fd);
    return got > 0 ? parse(std::string(buffer, std::size_t(got))) : std::nullopt;
}
