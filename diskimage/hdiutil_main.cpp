// hdiutil: the verbs of the macOS disk-image tool that isoswm runs, on Linux.
//   hdiutil attach [-owner PID] IMAGE
//   hdiutil info [-plist]
//   hdiutil unmount [-force] MOUNTPOINT        (also: detach)
//   hdiutil makehybrid -iso -udf -o OUT FOLDER [boot entries] [-exclude PATH] [-graft PATH=FILE]

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
    std::fprintf(
        stderr,
        "usage: hdiutil attach [-owner PID] IMAGE | info [-plist] |\n"
        "       unmount [-force] MOUNTPOINT |\n"
        "       makehybrid -iso -udf [-default-volume-name NAME] -o OUT FOLDER [OPTION]...\n"
        "makehybrid options:\n"
        "  -eltorito-boot FILE      a boot entry loading FILE, a path inside the image;\n"
        "                           each one starts a new entry, the first is the default\n"
        "  -no-emul-boot            the entry's image is loaded as it is (no emulation)\n"
        "  -hard-disk-boot          the entry's image is a hard disk (else: a floppy)\n"
        "  -boot-load-size N        sectors of 512 bytes to load (with -no-emul-boot)\n"
        "  -eltorito-platform P     x86 (the default) or efi, for the entry\n"
        "  -exclude PATH            leave FOLDER's item PATH (relative to FOLDER) out\n"
        "  -graft PATH=FILE         put FILE, a file or folder, at PATH in the image\n");
    return 1;
}
