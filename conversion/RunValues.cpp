#include "RunValues.h"

#include "PathName.h"
#include "UDisksDrives.h"

#include <QDir>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

QString SplitSet::first() const
{
    return PathName::join(folder, QStringLiteral("install.swm"));
}

QStringList SplitSet::pieces() const
{
    return QDir(folder).entryList({QStringLiteral("install*.swm")}, QDir::Files, QDir::Name);
}

bool OpenDrive::stillThere() const
{
    if (!service->refresh())
        return false;
    const std::optional<DriveFacts> now = service->find(facts.device);
    uint64_t size = 0;
    return now && now->sameDrive(facts) && ::ioctl(fd, BLKGETSIZE64, &size) == 0 &&
           qint64(size) == facts.size;
}

void OpenDrive::close()
{
    if (fd >= 0)
        ::close(std::exchange(fd, -1));
}
