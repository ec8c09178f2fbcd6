#include "UdfOperations.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// The image never changes under us: the kernel may keep names, attributes
// and pages as long as it likes.
constexpr double kCacheSeconds = 24 * 3600;
// Suggested I/O size: programs that honour st_blksize read in large chunks.
constexpr blksize_t kPreferredIoSize = 1 << 20;

// fi->fh of open files and folders.
struct Handle {
    const UdfNode *node;
    UDFFILE *file; // null for folders
};

UdfServerState &server()
{
    return *static_cast<UdfServerState *>(fuse_get_context()->private_data);
}

Handle *handleOf(const fuse_file_info *fi)
{
    return reinterpret_cast<Handle *>(fi->fh);
}

void fillStat(const UdfServerState &s, const UdfNode &node, struct stat *st)
{
    std::memset(st, 0, sizeof *st);
    st->st_mode = node.isDirectory ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st->st_nlink = node.isDirectory ? 2 + node.subdirectoryCount : 1;
    st->st_uid = s.uid;
    st->st_gid = s.gid;
    st->st_size = off_t(node.isDirectory ? UDF_BLOCK_SIZE : node.size);
    st->st_blksize = kPreferredIoSize;
    st->st_blocks = blkcnt_t((st->st_size + 511) / 512);
    st->st_atim = st->st_mtim = st->st_ctim = s.imageTime;
}

const UdfNode *nodeAt(const char *path, const fuse_file_info *fi)
{
    if (fi && fi->fh)
        return handleOf(fi)->node;
    return path ? server().image->find(path) : nullptr;
}

int udfGetattr(const char *path, struct stat *st, fuse_file_info *fi)
{
    const UdfNode *node = nodeAt(path, fi);
    if (!node)
        return -ENOENT;
    fillStat(server(), *node, st);
    return 0;
}

int udfOpendir(const char *path, fuse_file_info *fi)
{
    const UdfNode *node = server().image->find(path);
    if (!node)
        return -ENOENT;
    if (!node->isDirectory)
        return -ENOTDIR;
    fi->fh = reinterpret_cast<uint64_t>(new Handle{node, nullptr});
    fi->keep_cache = 1;
    fi->cache_readdir = 1;
    return 0;
}

int udfReaddir(const char *, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *fi,
               fuse_readdir_flags flags)
{
    const UdfServerState &s = server();
    const UdfNode *node = handleOf(fi)->node;
    const bool plus = flags & FUSE_READDIR_PLUS;
    const auto fillFlags = plus ? FUSE_FILL_DIR_PLUS : fuse_fill_dir_flags(0);
    // No attributes for the dot entries: libfuse looks them up itself, and an
    // entry given without an inode number would be hidden by readdir(3).
    if (fill(buffer, ".", nullptr, 0, fuse_fill_dir_flags(0)) ||
        fill(buffer, "..", nullptr, 0, fuse_fill_dir_flags(0)))
        return -ENOMEM;
    struct stat st;
    for (const auto &child : node->children) {
        fillStat(s, *child, &st);
        if (fill(buffer, child->name.c_str(), &st, 0, fillFlags))
            return -ENOMEM;
    }
    return 0;
}

int udfReleasedir(const char *, fuse_file_info *fi)
{
    delete handleOf(fi);
    return 0;
}

int udfOpen(const char *path, fuse_file_info *fi)
{
    const UdfNode *node = server().image->find(path);
    if (!node)
        return -ENOENT;
    if (node->isDirectory)
        return -EISDIR;
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    // One libudfread handle per open file: each keeps its own position.
    UDFFILE *file = server().image->openFile(*node);
    if (!file)
        return -EIO;
    fi->fh = reinterpret_cast<uint64_t>(new Handle{node, file});
    fi->keep_cache = 1;
    return 0;
}

int udfRead(const char *, char *buffer, size_t size, off_t offset, fuse_file_info *fi)
{
    const Handle &handle = *handleOf(fi);
    if (offset < 0)
        return -EINVAL;
    if (uint64_t(offset) >= handle.node->size)
        return 0;
    // Whole blocks go straight from the image into the kernel's buffer, in
    // one pread per extent.
    if (udfread_file_seek(handle.file, offset, UDF_SEEK_SET) < 0)
        return -EIO;
    const ssize_t got = udfread_file_read(handle.file, buffer, size);
    return got < 0 ? -EIO : int(got);
}

int udfRelease(const char *, fuse_file_info *fi)
{
    const Handle *handle = handleOf(fi);
    udfread_file_close(handle->file);
    delete handle;
    return 0;
}

int udfStatfs(const char *, struct statvfs *st)
{
    const UdfImage &image = *server().image;
    std::memset(st, 0, sizeof *st);
    st->f_bsize = UDF_BLOCK_SIZE;
    st->f_frsize = UDF_BLOCK_SIZE;
    st->f_blocks = fsblkcnt_t(image.imageSize() / UDF_BLOCK_SIZE);
    st->f_files = fsfilcnt_t(image.nodeCount());
    st->f_namemax = 255;
    return 0;
}

void *udfInit(fuse_conn_info *, fuse_config *config)
{
    config->kernel_cache = 1;
    config->entry_timeout = kCacheSeconds;
    config->attr_timeout = kCacheSeconds;
    config->negative_timeout = kCacheSeconds;
    config->nullpath_ok = 1; // reads go by handle; no path is built for them
    config->use_ino = 0;
    // hdiutil waits for the end of our stderr. Gone meanwhile (killed), it
    // can tell nobody of this mount: then it ends at once.
    pollfd errors{STDERR_FILENO, 0, 0};
    if (poll(&errors, 1, 0) == 1 && (errors.revents & POLLERR))
        fuse_exit(fuse_get_context()->fuse);
    // The kernel has reached us, so the mount is live: closing stderr tells
    // hdiutil. Nothing of ours writes there later.
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    return fuse_get_context()->private_data;
}

} // namespace

fuse_operations udfOperations()
{
    fuse_operations operations{};
    operations.getattr = udfGetattr;
    operations.opendir = udfOpendir;
    operations.readdir = udfReaddir;
    operations.releasedir = udfReleasedir;
    operations.open = udfOpen;
    operations.read = udfRead;
    operations.release = udfRelease;
    operations.statfs = udfStatfs;
    operations.init = udfInit;
    return operations;
}
