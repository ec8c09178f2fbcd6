#pragma once

#include <string>

// The private folder that holds the mount points made by `hdiutil attach`:
//   <folder>/<volume name>          mount point, one per attached image
//   <folder>/.lock                  taken while a mount point is chosen, made or removed
//   <folder>/.state/<name>.lock     held by the FUSE server of that mount for its
//                                   whole life, so others can tell it is alive and
//                                   wait for it to end
namespace RuntimeFolder {

// $XDG_RUNTIME_DIR/isoswm when that is set, /run/isoswm for root, else
// /tmp/isoswm-<uid>.
std::string location();

// Makes the folder and its state folder when missing and checks that both are
// real folders owned by us and closed to others (0700). False with a reason.
bool prepare(const std::string &folder, std::string *error);

// Paths derived from a mount point, whichever runtime folder it lies in.
std::string folderLockPath(const std::string &mountPoint);
std::string serverLockPath(const std::string &mountPoint);

// Takes away the folder that held `mountPoint` once nothing of ours is left in
// it (no mount point, no server's lock), so that no empty folder stays behind
// in /tmp. Called with the folder's lock held; an attach that waited for that
// lock finds its lock file gone and prepares the folder again.
void removeIfUnused(const std::string &mountPoint);

} // namespace RuntimeFolder

// An flock(2) lock on a file; released when the object goes (or the process ends).
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock &&other) noexcept;
    FileLock &operator=(FileLock &&other) noexcept;
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Opens the file, creating it (0600) when `create` is set. False with errno
    // set when it cannot be opened.
    bool open(const std::string &path, bool create);
    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    bool lock();
    bool tryLock();
    // Polls for the lock up to `milliseconds`; true once held.
    bool lockWithin(int milliseconds);
    // Whether `path` still names the open file (not removed or replaced since).
    bool names(const std::string &path) const;
    void close();

private:
    int m_fd = -1;
};
