#pragma once

// Names shared by the disk tools and their FUSE server.
namespace DiskImage {

// FUSE subtype of our mounts; the mount table shows them as "fuse.isoswm".
inline constexpr const char *kSubtype = "isoswm";
inline constexpr const char *kFsType = "fuse.isoswm";
// What stands where macOS names the disk device of an attached image.
inline constexpr const char *kDevEntry = "/dev/fuse";
// The FUSE server, installed next to hdiutil and diskutil.
inline constexpr const char *kServerName = "isoswm-udffs";

} // namespace DiskImage
