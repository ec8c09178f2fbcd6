// Times the Windows Setup step's boot.wim work: the Setup image's SYSTEM hive
// extracted, given the LabConfig values and put back, and the whole WIM
// written anew.
//
//   isoswm-setup-wim BOOT.wim OUT.wim SCRATCH-FOLDER

#include "SetupImage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: isoswm-setup-wim BOOT.wim OUT.wim SCRATCH-FOLDER\n");
        return 2;
    }
    QElapsedTimer timer;
    timer.start();
    const auto error = SetupImage::skipHardwareChecks(args[1], args[2], args[3],
                                                      [](quint64, quint64) { return true; });
    if (error) {
        std::fprintf(stderr, "%s %s\n", qPrintable(error->message), qPrintable(error->details));
        return 1;
    }
    std::printf("%.2f s\n", timer.elapsed() / 1000.0);
    return 0;
}
