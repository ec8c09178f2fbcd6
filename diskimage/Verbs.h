#pragma once

#include <string>
#include <vector>

// The verbs of hdiutil and diskutil. Each takes the arguments after the verb,
// prints what the macOS tool would print where the caller relies on it, and
// gives the exit status: 0 on success, else non-zero with one line on stderr.
namespace Verbs {

// attach [-owner PID] IMAGE: mounts the image's UDF volume read-only and
// prints "/dev/fuse\t\t<mount point>\n". The mount lasts while its owner
// runs: our parent process, or PID. SIGTERM, SIGINT or SIGHUP during the
// wait for the FUSE server undo the attach.
int attach(const std::vector<std::string> &args);

// info [-plist]: this user's attached images, as an XML property list with
// -plist; each with "owner-pid" and "owner-alive" when its server noted one.
int info(const std::vector<std::string> &args);

// unmount [-force] MOUNTPOINT, for `tool` ("hdiutil" or "diskutil", which
// also takes "force"); the tool only changes the wording of the messages.
// Without -force it refuses a mount whose owner runs and is not our parent.
// -force cuts the mount off its server first, so it never hangs.
int unmount(const std::string &tool, const std::vector<std::string> &args);

// makehybrid -iso -udf -o OUT FOLDER: an ISO 9660 + Rock Ridge + UDF image
// of FOLDER, written by genisoimage, whose "% done" lines go to stdout. With
// El Torito boot entries (-eltorito-boot FILE and the options after it), and
// the tree changed by -exclude PATH and -graft PATH=FILE.
int makeHybrid(const std::vector<std::string> &args);

} // namespace Verbs
