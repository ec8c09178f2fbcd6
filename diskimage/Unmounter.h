#pragma once

#include <string>
#include <sys/types.h>

namespace Unmounter {

// Unmounts a FUSE mount: umount2 as root, fusermount3 -u for anyone else (it
// checks that the mount is the user's own). `lazy` detaches it even while
// busy. False with a one-line reason.
bool unmount(const std::string &mountPoint, bool lazy, std::string *error);

// Cuts the FUSE mount of `device` off its server through the fusectl file
// system (root only): waiting and later requests fail instead of hanging.
// False when that cannot be done here.
bool abortConnection(dev_t device);

} // namespace Unmounter
