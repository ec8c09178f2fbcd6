// A stick that claims SIZE bytes and keeps KEPT of them, as one file for a
// loop device: past KEPT, "wrap" stores onto the start again, "drop" loses
// the writes (reads give zeros); "refuse" takes no write at all. Data is
// kept in BACKING. With direct_io, no cache hides what the fake did. With
// LOG, each write is told there as "OFFSET LENGTH TABLE", TABLE 1 when the
// stick holds a GPT header at either end once it is done.
// fake-stick MOUNTPOINT BACKING SIZE KEPT wrap|drop|refuse [LOG]
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int backing;
static off_t claimed, kept;
static const char *mode;
static FILE *writes;

static int getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    (void)fi;
    memset(st, 0, sizeof *st);
    st->st_mode = strcmp(path, "/") == 0 ? S_IFDIR | 0755 : S_IFREG | 0600;
    st->st_size = strcmp(path, "/") == 0 ? 0 : claimed;
    return strcmp(path, "/") == 0 || strcmp(path, "/stick") == 0 ? 0 : -ENOENT;
}

static int open_(const char *path, struct fuse_file_info *fi)
{
    fi->direct_io = 1;
    return strcmp(path, "/stick") == 0 ? 0 : -ENOENT;
}

// One byte range at a time, each mapped onto what the stick really keeps.
static int io(char *buf, size_t size, off_t at, int writing)
{
    if (writing && strcmp(mode, "refuse") == 0)
        return -EROFS;
    for (size_t done = 0; done < size;) {
        const off_t there = at + (off_t)done;
        const off_t part =
            kept - there % kept < (off_t)(size - done) ? kept - there % kept : (off_t)(size - done);
        if (there >= kept && strcmp(mode, "drop") == 0) {
            if (!writing)
                memset(buf + done, 0, (size_t)part);
        } else if ((writing ? pwrite(backing, buf + done, (size_t)part, there % kept)
                            : pread(backing, buf + done, (size_t)part, there % kept)) != part) {
            return -EIO;
        }
        done += (size_t)part;
    }
    return (int)size;
}

static int read_(const char *p, char *b, size_t n, off_t at, struct fuse_file_info *f)
{
    (void)p, (void)f;
    return io(b, n, at, 0);
}

static int gptAt(off_t at)
{
    char header[8];
    return pread(backing, header, sizeof header, at % kept) == sizeof header &&
           memcmp(header, "EFI PART", sizeof header) == 0;
}

static int write_(const char *p, const char *b, size_t n, off_t at, struct fuse_file_info *f)
{
    (void)p, (void)f;
    const int done = io((char *)b, n, at, 1);
    if (writes) {
        fprintf(writes, "%lld %zu %d\n", (long long)at, n, gptAt(512) || gptAt(claimed - 512));
        fflush(writes);
    }
    return done;
}

int main(int argc, char **argv)
{
    if (argc != 6 && argc != 7)
        return 2;
    writes = argc == 7 ? fopen(argv[6], "w") : NULL;
    backing = open(argv[2], O_RDWR | O_CREAT, 0600);
    claimed = atoll(argv[3]);
    kept = atoll(argv[4]);
    mode = argv[5];
    if (backing < 0 || ftruncate(backing, kept) != 0)
        return 1;
    static const struct fuse_operations ops = {
        .getattr = getattr, .open = open_, .read = read_, .write = write_};
    char *args[] = {argv[0], "-f", "-s", argv[1], NULL};
    return fuse_main(4, args, &ops, NULL);
}
