#pragma once

#define FUSE_USE_VERSION 312

#include "UdfImage.h"

#include <fuse.h>

#include <memory>
#include <sys/types.h>
#include <time.h>

// What the file system operations serve; given to fuse_new as private data.
struct UdfServerState {
    std::unique_ptr<UdfImage> image;
    timespec imageTime{};
    uid_t uid = 0;
    gid_t gid = 0;
};

// The read-only FUSE operations over a UdfServerState. Their init closes
// stderr: that tells hdiutil that the kernel has come to us, so the mount is
// live.
fuse_operations udfOperations();
