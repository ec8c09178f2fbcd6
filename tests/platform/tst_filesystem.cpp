#include "FileSystem.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

void writeFile(const QString &path, const QByteArray &bytes, unsigned mode = 0644)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    QCOMPARE(::chmod(enc(path).constData(), mode), 0);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void makeDir(const QString &path, unsigned mode = 0755)
{
    QVERIFY2(::mkdir(enc(path).constData(), 0700) == 0, qPrintable(path));
    QCOMPARE(::chmod(enc(path).constData(), mode), 0);
}

void makeLink(const QString &target, const QString &path)
{
    QVERIFY2(::symlink(enc(target).constData(), enc(path).constData()) == 0, qPrintable(path));
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(enc(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

bool isLink(const QString &path)
{
    struct stat st;
    return ::lstat(enc(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool existsNoFollow(const QString &path)
{
    struct stat st;
    return ::lstat(enc(path).constData(), &st) == 0;
}

// Read-only folders, so that QTemporaryDir can clear up after a test.
void makeTreeWritable(const QString &root)
{
    ::chmod(enc(root).constData(), 0700);
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isLink(path))
            ::chmod(enc(path).constData(), 0700);
    }
}

// Root ignores permission bits; the copy must work without that privilege
// (a user copying an r-x mounted volume), so the copies below run on a thread
// that gives it up. Capabilities belong to the thread on Linux.
void dropPermissionOverride()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
        data[cap / 32].effective &= ~(1u << (cap % 32));
    ::syscall(SYS_capset, &header, data);
}

template <typename F> auto withoutPrivilege(F f)
{
    decltype(f()) result;
    std::thread t([&] {
        dropPermissionOverride();
        result = f();
    });
    t.join();
    return result;
}

struct Recorder {
    QStringList asked;
    std::function<bool(const QString &)> answer = [](const QString &) { return true; };
    FileSystem::ShouldCopyItem callback()
    {
        return [this](const QString &path) {
            asked.append(path);
            return answer(path);
        };
    }
};

} // namespace

class FileSystemTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY(m_tmp->isValid());
    }
    void cleanup()
    {
        makeTreeWritable(m_tmp->path());
        m_tmp.reset();
    }

    void copiesTreeWithPermissionsAndLinks()
    {
        const QString src = path("Volume");
        makeDir(src);
        writeFile(src + "/a.txt", "alpha");
        writeFile(src + "/run.sh", "#!/bin/sh\n", 0755);
        writeFile(src + "/private", "secret", 0600);
        writeFile(src + "/readonly", "ro", 0444);
        makeDir(src + "/empty", 0700);
        makeDir(src + "/sources");
        writeFile(src + "/sources/install.wim", QByteArray(3 * 1024 * 1024 + 5, 'w'));
        makeDir(src + "/sources/deep");
        writeFile(src + "/sources/deep/leaf.txt", "leaf", 0444);
        makeDir(src + "/sources/deep/sealed");
        writeFile(src + "/sources/deep/sealed/inner", "inner", 0400);
        const QString outside = path("outside-target");
        writeFile(outside, "must not be copied");
        makeLink(outside, src + "/link-out");
        makeLink("a.txt", src + "/link-rel");
        makeLink("missing", src + "/dangling");
        // Read-only folders as a mounted image gives them, innermost first.
        QCOMPARE(::chmod(enc(src + "/sources/deep/sealed").constData(), 0500), 0);
        QCOMPARE(::chmod(enc(src + "/sources/deep").constData(), 0555), 0);
        QCOMPARE(::chmod(enc(src + "/sources").constData(), 0555), 0);
        QCOMPARE(::chmod(enc(src).constData(), 0555), 0);

        const QString dst = path("staging");
        Recorder rec;
        const auto error =
            withoutPrivilege([&] { return FileSystem::copyItem(src, dst, rec.callback()); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");

        // Every item asked about exactly once, the top first, each folder
        // before anything inside it.
        QStringList expected{src};
        for (const QString &rel : FileSystem::enumerate(src))
            expected.append(src + '/' + rel);
        QCOMPARE(rec.asked.first(), src);
        QStringList sortedAsked = rec.asked;
        sortedAsked.sort();
        expected.sort();
        QCOMPARE(sortedAsked, expected);
        for (int i = 0; i < rec.asked.size(); ++i) {
            const QString parent = QFileInfo(rec.asked[i]).path();
            if (rec.asked[i] != src)
                QVERIFY2(rec.asked.indexOf(parent) < i, qPrintable(rec.asked[i]));
        }

        for (const QString &rel : FileSystem::enumerate(src)) {
            const QString from = src + '/' + rel;
            const QString to = dst + '/' + rel;
            QVERIFY2(existsNoFollow(to), qPrintable(rel));
            QCOMPARE(isLink(to), isLink(from));
            if (!isLink(from))
                QCOMPARE(modeOf(to), modeOf(from));
            if (QFileInfo(from).isFile() && !isLink(from))
                QCOMPARE(readFile(to), readFile(from));
        }
        QCOMPARE(modeOf(dst), 0555);
        QCOMPARE(FileSystem::enumerate(dst), FileSystem::enumerate(src));

        // Links stay links with the same text; nothing is fetched through them.
        QCOMPARE(QFile::symLinkTarget(dst + "/link-rel"), dst + "/a.txt");
        QCOMPARE(QFileInfo(dst + "/link-out").symLinkTarget(), outside);
        QVERIFY(isLink(dst + "/dangling"));
        QVERIFY(!QFile::exists(dst + "/outside-target"));
        QCOMPARE(readFile(outside), QByteArray("must not be copied"));
    }

    void copiesSingleFileAndLink()
    {
        writeFile(path("one"), "1", 0640);
        Recorder rec;
        QVERIFY(!FileSystem::copyItem(path("one"), path("one-copy"), rec.callback()));
        QCOMPARE(rec.asked, QStringList{path("one")});
        QCOMPARE(readFile(path("one-copy")), QByteArray("1"));
        QCOMPARE(modeOf(path("one-copy")), 0640);

        makeLink("/etc", path("etc-link"));
        QVERIFY(!FileSystem::copyItem(path("etc-link"), path("etc-copy"), {}));
        QVERIFY(isLink(path("etc-copy")));
        QCOMPARE(QFile::symLinkTarget(path("etc-copy")), QStringLiteral("/etc"));
    }

    void refusedFolderIsSkippedWithoutError()
    {
        const QString src = path("src");
        makeDir(src);
        writeFile(src + "/a", "a");
        makeDir(src + "/b");
        writeFile(src + "/b/x", "x");
        makeDir(src + "/b/y");
        writeFile(src + "/b/y/z", "z");
        writeFile(src + "/c", "c");

        Recorder rec;
        rec.answer = [&](const QString &p) { return p != src + "/b"; };
        QVERIFY(!FileSystem::copyItem(src, path("dst"), rec.callback()));
        QCOMPARE(rec.asked.first(), src);
        QVERIFY(rec.asked.contains(src + "/b"));
        for (const QString &p : rec.asked)
            QVERIFY2(!p.startsWith(src + "/b/"), qPrintable(p));
        QCOMPARE(FileSystem::enumerate(path("dst")), (QStringList{"a", "c"}));

        // Refusing every item, the top one included: nothing is made at all.
        Recorder none;
        none.answer = [](const QString &) { return false; };
        QVERIFY(!FileSystem::copyItem(src, path("never"), none.callback()));
        QCOMPARE(none.asked, QStringList{src});
        QVERIFY(!existsNoFollow(path("never")));
    }

    void failingItemStopsTheCopy()
    {
        const QString src = path("src");
        makeDir(src);
        writeFile(src + "/a", "a");
        makeDir(src + "/b");
        writeFile(src + "/b/gone", "x");
        writeFile(src + "/b/later", "y");
        writeFile(src + "/c", "c");

        // The item vanishes between being listed and being copied, as on a
        // medium that is pulled out.
        Recorder rec;
        rec.answer = [&](const QString &p) {
            if (p.endsWith("/gone"))
                QFile::remove(p);
            return true;
        };
        const auto error = FileSystem::copyItem(src, path("dst"), rec.callback());
        QVERIFY(error);
        QVERIFY2(error->details.contains(src + "/b/gone"), qPrintable(error->details));
        QVERIFY2(error->details.contains(QString::fromLocal8Bit(std::strerror(ENOENT))),
                 qPrintable(error->details));
        QVERIFY2(error->message.contains("gone"), qPrintable(error->message));
        QCOMPARE(rec.asked.last(), src + "/b/gone");
        QVERIFY(QFile::exists(path("dst/a")));
        QVERIFY(!existsNoFollow(path("dst/b/later")));
        QVERIFY(!existsNoFollow(path("dst/c")));
    }

    void unreadableFileIsAnError()
    {
        const QString src = path("src");
        makeDir(src);
        writeFile(src + "/fine", "ok");
        writeFile(src + "/locked", "no", 0000);
        const auto error =
            withoutPrivilege([&] { return FileSystem::copyItem(src, path("dst"), {}); });
        QVERIFY(error);
        QVERIFY2(error->details.contains(src + "/locked"), qPrintable(error->details));
        QVERIFY2(error->details.contains(QString::fromLocal8Bit(std::strerror(EACCES))),
                 qPrintable(error->details));
        QVERIFY(!existsNoFollow(path("dst/locked")));
    }

    void destinationProblemsAreErrors()
    {
        const QString src = path("src");
        makeDir(src);
        writeFile(src + "/a", "a");

        // An existing destination is never merged into or replaced.
        makeDir(path("taken"));
        Recorder rec;
        auto error = FileSystem::copyItem(src, path("taken"), rec.callback());
        QVERIFY(error);
        QVERIFY(rec.asked.isEmpty());
        QVERIFY2(error->details.contains(QString::fromLocal8Bit(std::strerror(EEXIST))),
                 qPrintable(error->details));
        QVERIFY(FileSystem::enumerate(path("taken")).isEmpty());
        makeLink("nowhere", path("dangling"));
        QVERIFY(FileSystem::copyItem(src, path("dangling"), {}));
        QVERIFY(isLink(path("dangling")));

        // A destination whose parent is a file: fails as root too.
        writeFile(path("plain"), "p");
        error = FileSystem::copyItem(src, path("plain/dst"), {});
        QVERIFY(error);
        QVERIFY2(error->details.contains(path("plain/dst")), qPrintable(error->details));

        // Into itself: an error, not an endless copy.
        error = FileSystem::copyItem(src, src + "/inner", {});
        QVERIFY(error);
        QVERIFY(!existsNoFollow(src + "/inner"));

        error = FileSystem::copyItem(path("missing"), path("x"), {});
        QVERIFY(error);
        QVERIFY(error->details.contains(path("missing")));
    }

    void fifoIsPassedOver()
    {
        const QString src = path("src");
        makeDir(src);
        QCOMPARE(::mkfifo(enc(src + "/pipe").constData(), 0644), 0);
        writeFile(src + "/after", "after");
        Recorder rec;
        QVERIFY(!FileSystem::copyItem(src, path("dst"), rec.callback()));
        QVERIFY(rec.asked.contains(src + "/pipe"));
        QVERIFY(!existsNoFollow(path("dst/pipe")));
        QCOMPARE(readFile(path("dst/after")), QByteArray("after"));
    }

    void copiesFilesBeyondFourGigabytes()
    {
        const QString big = path("big.img");
        // Marks past the 32-bit boundary; the file ends in a hole.
        const off_t size = (off_t(5) << 30) + 3 * 4096 + 3;
        const off_t marks[] = {0, (off_t(4) << 30) + 1, off_t(5) << 30};
        {
            const int fd = ::open(enc(big).constData(), O_WRONLY | O_CREAT, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::ftruncate(fd, size), 0);
            char c = 'A';
            for (off_t at : marks) {
                QCOMPARE(::pwrite(fd, &c, 1, at), ssize_t(1));
                ++c;
            }
            ::close(fd);
        }
        QVERIFY(!FileSystem::copyItem(big, path("big-copy.img"), {}));
        QCOMPARE(QFileInfo(path("big-copy.img")).size(), qint64(size));
        const int fd = ::open(enc(path("big-copy.img")).constData(), O_RDONLY);
        QVERIFY(fd >= 0);
        char c = 'A';
        for (off_t at : marks) {
            char got = 0;
            QCOMPARE(::pread(fd, &got, 1, at), ssize_t(1));
            QCOMPARE(got, c++);
        }
        char zero = 1;
        QCOMPARE(::pread(fd, &zero, 1, off_t(3) << 30), ssize_t(1));
        QCOMPARE(zero, '\0');
        ::close(fd);
    }

    void copiesAcrossFileSystems()
    {
        // Between file systems the kernel refuses copy_file_range, as it does
        // from a FUSE mount; the data must arrive all the same.
        struct stat here, shm;
        if (::stat(enc(m_tmp->path()).constData(), &here) != 0 || ::stat("/dev/shm", &shm) != 0 ||
            here.st_dev == shm.st_dev || ::access("/dev/shm", W_OK) != 0)
            QSKIP("needs /dev/shm on a file system of its own");
        QTemporaryDir other(QStringLiteral("/dev/shm/isoswm-test-XXXXXX"));
        QVERIFY(other.isValid());
        QByteArray data(9 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 2654435761u) >> 13);
        writeFile(path("data.bin"), data);
        QVERIFY(!FileSystem::copyItem(path("data.bin"), other.filePath("data.bin"), {}));
        QCOMPARE(readFile(other.filePath("data.bin")), data);
    }

    void copiesFileThatReportsNoSize()
    {
        // Virtual files report size 0 but have contents.
        const QByteArray expected = readFile("/proc/version");
        if (expected.isEmpty())
            QSKIP("no /proc/version");
        QVERIFY(!FileSystem::copyItem("/proc/version", path("version"), {}));
        QCOMPARE(readFile(path("version")), expected);
    }

    void setsPermissions()
    {
        writeFile(path("f"), "f", 0600);
        QVERIFY(!FileSystem::setPosixPermissions(path("f"), 0751));
        QCOMPARE(modeOf(path("f")), 0751);
        makeDir(path("d"), 0555);
        QVERIFY(!FileSystem::setPosixPermissions(path("d"), 0777));
        QCOMPARE(modeOf(path("d")), 0777);
        const auto error = FileSystem::setPosixPermissions(path("missing"), 0777);
        QVERIFY(error);
        QVERIFY(error->details.contains(path("missing")));
    }

    void removesTrees()
    {
        const QString tree = path("tree");
        makeDir(tree);
        makeDir(tree + "/sub");
        writeFile(tree + "/sub/f", "f", 0444);
        const QString kept = path("kept");
        makeDir(kept);
        writeFile(kept + "/precious", "p");
        makeLink(kept, tree + "/link-to-kept");
        QCOMPARE(::chmod(enc(tree + "/sub").constData(), 0555), 0);

        // Without privilege a read-only folder's contents cannot go: reported,
        // naming the item, and the caller opens it up first.
        auto error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY(error);
        QVERIFY2(error->details.contains(tree + "/sub/f"), qPrintable(error->details));
        QVERIFY(QFile::exists(tree + "/sub/f"));

        QVERIFY(!FileSystem::setPosixPermissions(tree + "/sub", 0777));
        error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");
        QVERIFY(!existsNoFollow(tree));
        // The link went, not what it pointed to.
        QCOMPARE(readFile(kept + "/precious"), QByteArray("p"));

        error = FileSystem::removeItem(tree);
        QVERIFY(error);
        QVERIFY(error->details.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
        QVERIFY(error->details.contains(tree));
    }

    void enumeratesFoldersBeforeContents()
    {
        const QString root = path("root");
        makeDir(root);
        makeDir(root + "/EFI");
        makeDir(root + "/EFI/boot");
        writeFile(root + "/EFI/boot/bootx64.efi", "e");
        writeFile(root + "/setup.exe", "s");
        makeDir(root + "/sources");
        writeFile(root + "/sources/install.wim", "w");
        makeDir(path("elsewhere"));
        writeFile(path("elsewhere/hidden"), "h");
        makeLink(path("elsewhere"), root + "/sources/link");

        const QStringList list = FileSystem::enumerate(root);
        QStringList sorted = list;
        sorted.sort();
        QCOMPARE(sorted, (QStringList{"EFI", "EFI/boot", "EFI/boot/bootx64.efi", "setup.exe",
                                      "sources", "sources/install.wim", "sources/link"}));
        for (const QString &entry : list) {
            const int slash = entry.lastIndexOf('/');
            if (slash > 0)
                QVERIFY2(list.indexOf(entry.left(slash)) < list.indexOf(entry), qPrintable(entry));
        }
        QVERIFY(FileSystem::enumerate(path("nothing-here")).isEmpty());
    }

    void findsChildIgnoringCase()
    {
        const QString dir = path("volume");
        makeDir(dir);
        makeDir(dir + "/Sources");
        makeDir(dir + "/sources");
        writeFile(dir + "/Setup.EXE", "s");

        QCOMPARE(FileSystem::childIgnoringCase(dir, "sources"), std::optional(dir + "/sources"));
        QCOMPARE(FileSystem::childIgnoringCase(dir, "Sources"), std::optional(dir + "/Sources"));
        const auto any = FileSystem::childIgnoringCase(dir, "SOURCES");
        QVERIFY(any == dir + "/sources" || any == dir + "/Sources");
        QCOMPARE(FileSystem::childIgnoringCase(dir, "setup.exe"),
                 std::optional(dir + "/Setup.EXE"));
        QVERIFY(!FileSystem::childIgnoringCase(dir, "boot"));
        QVERIFY(!FileSystem::childIgnoringCase(path("absent"), "sources"));
    }

private:
    QString path(const QString &rel) const { return m_tmp->filePath(rel); }

    std::unique_ptr<QTemporaryDir> m_tmp;
};

QObject *newFileSystemTest()
{
    return new FileSystemTest;
}

#include "tst_filesystem.moc"
