// Builds a USB installer image from a folder and writes it to a drive the way
// the program does (through the disk service, read back after), and prints
// how long each part took.
//
//   isoswm-stick-write FOLDER DEVICE

#include "DriveRules.h"
#include "StickImage.h"
#include "StickWriter.h"
#include "UDisksDrives.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: isoswm-stick-write FOLDER DEVICE\n");
        return 2;
    }
    UDisksDrives drives;
    QString error;
    if (!drives.refresh(&error) || !drives.find(args[2])) {
        std::fprintf(stderr, "%s: not known to the disk service %s\n", qPrintable(args[2]),
                     qPrintable(error));
        return 1;
    }
    const DriveFacts drive = *drives.find(args[2]);
    if (const auto why = DriveRules::refusal(drive, 0, QDir::homePath())) {
        std::fprintf(stderr, "%s\n", qPrintable(*why));
        return 1;
    }
    QTemporaryDir folder;
    const QString image = folder.filePath("stick.img");
    QElapsedTimer clock;
    clock.start();
    std::optional<Error> failed = StickImage::create(image, drive.size, "BENCH");
    if (!failed)
        failed = StickImage::copyTree(image, args[1]);
    const qint64 built = clock.restart();
    const int fd = failed ? -1 : drives.openForWriting(drive, &error);
    if (!failed && fd < 0)
        failed = Error{error, QString()};
    qint64 written = 0, total = 0, writing = 0;
    if (!failed)
        failed =
            StickWriter::write(image, fd, [&](StickWriter::Phase phase, qint64 done, qint64 all) {
                if (phase == StickWriter::Phase::Writing)
                    written = done, writing = clock.elapsed();
                total = all;
                return true;
            });
    if (fd >= 0)
        ::close(fd);
    if (failed) {
        std::fprintf(stderr, "%s %s\n", qPrintable(failed->message), qPrintable(failed->details));
        return 1;
    }
    std::printf("image built: %.2f s\nwritten: %.2f s (%lld bytes)\nread back: %.2f s\n",
                built / 1000.0, writing / 1000.0, written, (clock.elapsed() - writing) / 1000.0);
    return total == written ? 0 : 1;
}
