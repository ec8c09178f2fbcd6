// diskutil: the one verb of the macOS disk tool that isoswm runs, on Linux.
//   diskutil unmount [force|-force] MOUNTPOINT

#include "Verbs.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
    if (argc > 1 && std::string(argv[1]) == "unmount")
        return Verbs::unmount("diskutil", args);
    std::fprintf(stderr, "usage: diskutil unmount [force] MOUNTPOINT\n");
    return 1;
}
