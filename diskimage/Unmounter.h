#pragma once

#include <string>

namespace Unmounter {

// Unmounts a FUSE mount: umount2 as root, fusermount3 -u for anyone else (it
// checks that the mount is the user's own). `lazy` detaches it even while
// busy. False with a one-line reason.
bool unmount(const std::string &mountPoint, bool lazy, std::string *error);

} // namespace Unmounter
