// hdiutil: the verbs of the macOS disk-image tool that isoswm runs, on Linux.
//   hdiutil attach [-owner PID] IMAGE
//   hdiutil info [-plist]
//   hdiutil unmount [-force] MOUNTPOINT        (also: detach)
//   hdiutil makehybrid -iso -udf -o OUT FOLDER

#include "Verbs.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "attach")
        return Verbs::attach(args);
    if (verb == "info")
        return Verbs::info(args);
    if (verb == "unmount" || verb == "detach")
        return Verbs::unmount("hdiutil", args);
    if (verb == "makehybrid")
        return Verbs::makeHybrid(args);
    std::fprintf(stderr,
                 "usage: hdiutil attach [-owner PID] IMAGE | info [-plist] |\n"
                 "       unmount [-force] MOUNTPOINT | makehybrid -iso -udf -o OUT FOLDER\n");
    return 1;
}
