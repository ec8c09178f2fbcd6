// How long the stick probe takes: run once on DEVICE (a loop device made for
// it; it is written), claiming its whole size, and the time printed.
//   isoswm-stick-probe DEVICE
#include "StickProbe.h"

#include <QElapsedTimer>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const int fd = argc == 2 ? ::open(argv[1], O_RDWR | O_CLOEXEC) : -1;
    if (fd < 0)
        return 2;
    const qint64 size = ::lseek(fd, 0, SEEK_END);
    QElapsedTimer clock;
    clock.start();
    const StickProbe::Result result = StickProbe::probe(fd, size, [] { return true; });
    const qint64 elapsed = clock.elapsed();
    qint64 blocks = 0, bytes = 0;
    for (const StickProbe::Region &region : StickProbe::regions(size))
        ++blocks, bytes += region.length;
    std::printf("%lld bytes claimed: %lld regions, %lld bytes probed, outcome %d, %lld ms\n", size,
                blocks, bytes, int(result.outcome), elapsed);
    ::close(fd);
    return result.outcome == StickProbe::Outcome::Holds ? 0 : 1;
}
