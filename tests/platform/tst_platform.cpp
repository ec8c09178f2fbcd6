#include "Bundle.h"
#include "FileSystem.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray enc(const QString &path)
{
    return QFile::encodeName(path);
}

// Makes each item below `root` in turn: "name/" a folder, "name->target" a
// symbolic link, anything else a file holding its name; ":755" sets permissions
// (only that, for an item already made).
void make(const QString &root, const QStringList &items)
{
    for (const QString &item : items) {
        const QString name = item.section(':', 0, 0).section("->", 0, 0);
        const QString target = item.section(':', 0, 0).section("->", 1),
                      mode = item.section(':', 1);
        const QByteArray p = enc(root + '/' + name);
        QFile file(root + '/' + name);
        bool ok = ::access(p.constData(), F_OK) == 0 ? !mode.isEmpty()
                  : !target.isEmpty() ? ::symlink(enc(target).constData(), p.constData()) == 0
                  : name.endsWith('/')
                      ? ::mkdir(p.constData(), 0755) == 0
                      : file.open(QIODevice::WriteOnly) && file.write(enc(name)) > 0;
        file.close();
        if (!mode.isEmpty())
            ok = ok && ::chmod(p.constData(), mode.toUInt(nullptr, 8)) == 0;
        QVERIFY2(ok, qPrintable(item));
    }
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size(), qPrintable(path));
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// lstat's st_mode; -1 when nothing is there.
int statMode(const QString &path)
{
    struct stat st;
    return ::lstat(enc(path).constData(), &st) == 0 ? int(st.st_mode) : -1;
}

bool exists(const QString &path)
{
    return statMode(path) >= 0;
}

// Root ignores permission bits; a user copying an r-x mounted volume has no
// such privilege, so copies run on a thread that gives it up (capabilities
// belong to the thread on Linux).
template <typename F> auto withoutPrivilege(F f)
{
    decltype(f()) result;
    std::thread t([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        if (::syscall(SYS_capget, &header, data) == 0) {
            for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
                data[cap / 32].effective &= ~(1u << (cap % 32));
            ::syscall(SYS_capset, &header, data);
        }
        result = f();
    });
    t.join();
    return result;
}

// Records each item asked about, refusing those `refuse` names.
FileSystem::CopyCallbacks recorder(QStringList &asked,
                                   std::function<bool(const QString &)> refuse = {})
{
    return {[&asked, refuse](const QString &path) {
                asked.append(path);
                return !(refuse && refuse(path));
            },
            {}};
}

// Every entry below `folder` as a relative path, each folder before its contents.
QStringList listTree(const QString &folder)
{
    QStringList out;
    for (QDirIterator it(folder,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        out << it.next().mid(folder.size() + 1);
    out.sort();
    return out;
}

// A list in the shape the disk tool prints, with one value of every kind.
QByteArray sampleXml()
{
    QFile f(QStringLiteral(ISOSWM_TESTS_DIR "/data/sample.plist"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QVariant expectedTree()
{
    const QVariantMap entity{{"mount-point", QStringLiteral("/run/isoswm/CCCOMA_X64FRE")}};
    const QVariantMap image{{"image-path", QStringLiteral("/isos/win.iso")},
                            {"system-entities", QVariantList{entity}}};
    return QVariantMap{{"CFBundleShortVersionString", QStringLiteral("1.2")},
                       {"greeting", QStringLiteral("Grüße, “world”")},
                       {"build", qint64(45)},
                       {"negative", qint64(-7)},
                       {"large", qint64(5000000000)},
                       {"ratio", 1.5},
                       {"yes", true},
                       {"no", false},
                       {"blob", QByteArray("hello")},
                       {"when", QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5), QTimeZone::utc())},
                       {"images", QVariantList{image, qint64(2)}}};
}

QByteArray toBinary(const QByteArray &xml)
{
    plist_t node = nullptr;
    plist_from_xml(xml.constData(), uint32_t(xml.size()), &node);
    char *bin = nullptr;
    uint32_t length = 0;
    if (node)
        plist_to_bin(node, &bin, &length);
    plist_free(node);
    const QByteArray out(bin, qsizetype(length));
    plist_to_bin_free(bin);
    return out;
}

// Values with their exact types: QVariant's == converts between numeric types,
// but callers switch on the declared mapping.
QString dump(const QVariant &v)
{
    QString out = QString::fromLatin1(v.metaType().name()) + '(';
    if (v.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            out += it.key() + '=' + dump(it.value()) + ',';
    } else if (v.typeId() == QMetaType::QVariantList) {
        for (const QVariant &item : v.toList())
            out += dump(item) + ',';
    } else {
        out += v.toString();
    }
    return out + ')';
}

} // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_tmp.reset(new QTemporaryDir);
        QVERIFY(m_tmp->isValid());
        Bundle::setResourcesPath(m_tmp->path());
    }
    void cleanup()
    {
        // Read-only folders would keep QTemporaryDir from clearing up.
        QProcess::execute("chmod", {"-R", "u+rwx", m_tmp->path()});
        m_tmp.reset();
        Bundle::setResourcesPath({});
    }

    void copiesTreeWithPermissionsAndLinks()
    {
        const QString src = path("Volume"), dst = path("staging");
        make(m_tmp->path(), {"Volume/", "outside/", "outside/not-copied"});
        make(src, {"a.txt", "run.sh:755", "private:600", "empty/:700", "sources/", "sources/deep/",
                   "sources/deep/leaf.txt:444", "sources/install.wim",
                   "link-out->" + path("outside"), "link-rel->a.txt", "dangling->missing",
                   // Read-only folders, as a mounted image gives them.
                   "sources/deep/:555", "sources/:555", ".:555"});

        QStringList asked;
        const auto error =
            withoutPrivilege([&] { return FileSystem::copyItem(src, dst, recorder(asked)); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");

        // Each item asked about once, the top first, a folder's items in name order
        // after it; links are listed, not followed.
        const QStringList items =
            QString("a.txt dangling empty link-out link-rel private run.sh sources sources/deep "
                    "sources/deep/leaf.txt sources/install.wim")
                .split(' ');
        QStringList expected{src};
        for (const QString &rel : items)
            expected.append(src + '/' + rel);
        QCOMPARE(asked, expected);
        for (const QString &tree : {src, dst}) {
            QStringList list = listTree(tree);
            list.sort();
            QCOMPARE(list, items);
        }

        QCOMPARE(statMode(dst), statMode(src));
        for (const QString &rel : items) {
            const QString from = src + '/' + rel, to = dst + '/' + rel;
            QVERIFY2(statMode(to) == statMode(from), qPrintable(rel)); // kind and permissions
            QVERIFY2(readFile(to) == readFile(from), qPrintable(rel));
        }
        // Links keep their text, the top item's too.
        QCOMPARE(QFile::symLinkTarget(dst + "/link-rel"), dst + "/a.txt");
        QCOMPARE(QFile::symLinkTarget(dst + "/link-out"), path("outside"));
        QVERIFY(!FileSystem::copyItem(src + "/link-out", path("link-copy"), {}));
        QCOMPARE(QFile::symLinkTarget(path("link-copy")), path("outside"));
    }

    void refusedFolderIsNotDescended()
    {
        const QString src = path("src");
        make(m_tmp->path(), {"src/", "src/a", "src/b/", "src/b/y/", "src/b/y/z", "src/c"});
        QCOMPARE(::mkfifo(enc(src + "/pipe").constData(), 0644), 0);

        QStringList asked;
        const auto refuseB = [&](const QString &p) { return p == src + "/b"; };
        QVERIFY(!FileSystem::copyItem(src, path("dst"), recorder(asked, refuseB)));
        // A fifo is asked about but passed over, as if refused.
        QCOMPARE(asked, (QStringList{src, src + "/a", src + "/b", src + "/c", src + "/pipe"}));
        QCOMPARE(listTree(path("dst")), (QStringList{"a", "c"}));

        asked.clear();
        QVERIFY(!FileSystem::copyItem(src, path("never"),
                                      recorder(asked, [](const QString &) { return true; })));
        QCOMPARE(asked, QStringList{src});
        QVERIFY(!exists(path("never")));
    }

    void stopInsideAFileEndsTheCopyThere()
    {
        const QString src = path("src");
        make(m_tmp->path(), {"src/", "src/a", "src/c"});
        writeFile(src + "/b.bin", QByteArray(40 << 20, 'b'));
        QStringList asked;
        qint64 copied = 0;
        FileSystem::CopyCallbacks callbacks = recorder(asked);
        callbacks.copiedBytes = [&](qint64 bytes) {
            copied += bytes;
            return copied < (16 << 20);
        };
        // No error: a stop is not a failure, and nothing after it is asked about.
        QVERIFY(!FileSystem::copyItem(src, path("dst"), callbacks));
        QCOMPARE(asked, (QStringList{src, src + "/a", src + "/b.bin"}));
        QVERIFY(copied >= 16 << 20 && copied < 40 << 20);
        QVERIFY(!exists(path("dst/c")));
    }

    void failingItemStopsTheCopy_data()
    {
        QTest::addColumn<bool>("vanishes");
        QTest::newRow("vanished between listing and copying") << true; // a pulled medium
        QTest::newRow("unreadable") << false;
    }
    void failingItemStopsTheCopy()
    {
        QFETCH(bool, vanishes);
        const QString src = path("src");
        make(m_tmp->path(), {"src/", "src/a", "src/b/", "src/b/bad:000", "src/b/later", "src/c"});
        QStringList asked;
        const auto vanish = [&](const QString &p) {
            if (vanishes && p.endsWith("/bad"))
                QFile::remove(p);
            return false;
        };
        const auto error = withoutPrivilege(
            [&] { return FileSystem::copyItem(src, path("dst"), recorder(asked, vanish)); });
        QVERIFY(error);
        const QString reason = QString::fromLocal8Bit(std::strerror(vanishes ? ENOENT : EACCES));
        QVERIFY2(error->details.contains(src + "/b/bad") && error->details.contains(reason),
                 qPrintable(error->details));
        QVERIFY2(error->message.contains("bad"), qPrintable(error->message));
        QCOMPARE(asked.last(), src + "/b/bad");
        QVERIFY(exists(path("dst/a")));
        for (const char *rel : {"dst/b/bad", "dst/b/later", "dst/c"})
            QVERIFY2(!exists(path(rel)), rel);
    }

    void refusesBadDestinations()
    {
        const QString src = path("src");
        make(m_tmp->path(), {"src/", "src/a", "taken/", "dangling->nowhere", "plain"});
        // Never merged into or replaced, never copied into itself (endlessly).
        for (const QString &dst :
             {path("taken"), path("dangling"), path("plain/dst"), src + "/inner"}) {
            const auto error = FileSystem::copyItem(src, dst, {});
            QVERIFY2(error && error->details.contains(dst), qPrintable(dst));
        }
        QVERIFY(listTree(path("taken")).isEmpty());
        QVERIFY(QFileInfo(path("dangling")).isSymLink());
        QVERIFY(!exists(src + "/inner"));
        const auto error = FileSystem::copyItem(path("missing"), path("x"), {});
        QVERIFY(error && error->details.contains(path("missing")));
    }

    void copiesSparseFileBeyondFourGigabytes()
    {
        // Marks past the 32-bit boundary; the file ends in a hole.
        const off_t size = (off_t(5) << 30) + 3 * 4096 + 3;
        const off_t marks[] = {0, (off_t(4) << 30) + 1, off_t(5) << 30, off_t(3) << 30};
        int fd = ::open(enc(path("big.img")).constData(), O_WRONLY | O_CREAT, 0640);
        QVERIFY(fd >= 0 && ::ftruncate(fd, size) == 0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(::pwrite(fd, &"ABC"[i], 1, marks[i]), ssize_t(1));
        ::close(fd);

        // Within one file system the kernel copies; to /dev/shm, as from a FUSE
        // mount, read/write does.
        QTemporaryDir shm("/dev/shm/isoswm-test-XXXXXX");
        for (const QString &copy : {path("copy.img"), shm.filePath("copy.img")}) {
            QVERIFY(!FileSystem::copyItem(path("big.img"), copy, {}));
            QCOMPARE(QFileInfo(copy).size(), qint64(size));
            QCOMPARE(statMode(copy) & 07777, 0640);
            fd = ::open(enc(copy).constData(), O_RDONLY);
            QVERIFY(fd >= 0);
            char got[4] = {'x', 'x', 'x', 'x'};
            for (int i = 0; i < 4; ++i)
                QCOMPARE(::pread(fd, got + i, 1, marks[i]), ssize_t(1));
            ::close(fd);
            QCOMPARE(QByteArray(got, 4), QByteArray("ABC\0", 4));
        }
    }

    void copiesWhereTheKernelCannot()
    {
        // Virtual files report size 0 but have contents.
        const QByteArray version = readFile("/proc/version");
        QVERIFY(!version.isEmpty());
        QVERIFY(!FileSystem::copyItem("/proc/version", path("version"), {}));
        QCOMPARE(readFile(path("version")), version);

        // /dev/shm is another file system: copy_file_range is refused there, as
        // from a FUSE mount; more than one read/write buffer's worth must arrive.
        QTemporaryDir other(QStringLiteral("/dev/shm/isoswm-test-XXXXXX"));
        QByteArray data(9 * 1024 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 2654435761u) >> 13);
        writeFile(path("data.bin"), data);
        QVERIFY(!FileSystem::copyItem(path("data.bin"), other.filePath("data.bin"), {}));
        QVERIFY(readFile(other.filePath("data.bin")) == data);
    }

    void removesTrees()
    {
        const QString tree = path("tree");
        make(m_tmp->path(), {"kept/", "kept/precious", "tree/", "tree/sub/", "tree/sub/f:444",
                             "tree/link-to-kept->" + path("kept"), "tree/sub/:555"});

        // Without privilege a read-only folder's contents cannot go: the error
        // names the item, and the caller opens the folder up first.
        auto error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY2(error && error->details.contains(tree + "/sub/f"), error ? "" : "no error");
        QVERIFY(!FileSystem::setPosixPermissions(tree + "/sub", 0777));
        error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");
        QVERIFY(!exists(tree));
        QVERIFY(exists(path("kept/precious"))); // the link went, not its target

        error = FileSystem::removeItem(tree);
        QVERIFY(error && error->details.contains(tree));
        QVERIFY(error->details.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    }

    void findsChildIgnoringCase()
    {
        const QString dir = path("volume");
        make(m_tmp->path(), {"volume/", "volume/Sources/", "volume/sources/", "volume/Setup.EXE"});
        // An exact match wins over one that differs in case.
        QCOMPARE(FileSystem::childIgnoringCase(dir, "sources"), std::optional(dir + "/sources"));
        QCOMPARE(FileSystem::childIgnoringCase(dir, "Sources"), std::optional(dir + "/Sources"));
        QCOMPARE(FileSystem::childIgnoringCase(dir, "SETUP.exe"),
                 std::optional(dir + "/Setup.EXE"));
        QVERIFY(!FileSystem::childIgnoringCase(dir, "boot"));
        QVERIFY(!FileSystem::childIgnoringCase(path("absent"), "sources"));
    }

    void xmlAndBinaryGiveTheSameTree()
    {
        const QString expected = dump(expectedTree());
        const auto fromXml = PropertyList::parse(sampleXml());
        QVERIFY(fromXml);
        QCOMPARE(dump(*fromXml), expected);

        const QByteArray bin = toBinary(sampleXml());
        QVERIFY(bin.startsWith("bplist00"));
        const auto fromBin = PropertyList::parse(bin);
        QVERIFY(fromBin);
        QCOMPARE(dump(*fromBin), expected);
    }

    void rejectsWhatIsNoPropertyList_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("not a property list");
        QTest::newRow("unclosed") << QByteArray("<?xml version=\"1.0\"?><plist>");
        QTest::newRow("binary header only") << QByteArray("bplist00");
        QTest::newRow("truncated binary") << toBinary(sampleXml()).left(40);
        QTest::newRow("zeros") << QByteArray(64, '\0');
    }
    void rejectsWhatIsNoPropertyList()
    {
        QFETCH(QByteArray, bytes);
        QVERIFY(!PropertyList::parse(bytes));
    }

    void readsInfoValues()
    {
        QVERIFY(!Bundle::infoValue("CFBundleVersion"));
        writeFile(path("Info.plist"), "CFBundleVersion = 45");
        QVERIFY(!Bundle::infoValue("CFBundleVersion"));
        const QByteArray head = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
        writeFile(path("Info.plist"), head + "<array><string>45</string></array></plist>");
        QVERIFY(!Bundle::infoValue("CFBundleVersion")); // no keys
        writeFile(path("Info.plist"),
                  head + "<dict><key>CFBundleShortVersionString</key><string>1.2</string>"
                         "<key>CFBundleVersion</key><string>45</string><key>NumericBuild</key>"
                         "<integer>46</integer><key>Nested</key><dict><key>a</key><string>b"
                         "</string></dict></dict></plist>");
        QCOMPARE(Bundle::infoValue("CFBundleShortVersionString"), std::optional<QString>("1.2"));
        QCOMPARE(Bundle::infoValue("CFBundleVersion"), std::optional<QString>("45"));
        QCOMPARE(Bundle::infoValue("NumericBuild"), std::optional<QString>("46"));
        QVERIFY(!Bundle::infoValue("CFBundleMissing"));
        QVERIFY(!Bundle::infoValue("Nested"));
    }

    void findsResources()
    {
        make(m_tmp->path(),
             {"eulaplusgpl.txt", "tools/", "tools/bin/", "tools/bin/wimsplit->/bin/sh",
              "tools/bin/broken->" + path("nowhere")});
        QCOMPARE(Bundle::pathForResource("eulaplusgpl", "txt"),
                 std::optional(path("eulaplusgpl.txt")));
        QCOMPARE(Bundle::pathForResource("wimsplit", "", "tools/bin"),
                 std::optional(path("tools/bin/wimsplit")));
        QVERIFY(!Bundle::pathForResource("eulaplusgpl", ""));
        QVERIFY(!Bundle::pathForResource("wimsplit", ""));
        QVERIFY(!Bundle::pathForResource("broken", "", "tools/bin"));

        // By default the folder laid out beside the programs, as when installed.
        Bundle::setResourcesPath({});
        QCOMPARE(Bundle::resourcesPath(), QDir::cleanPath(ISOSWM_SHARE_DIR));
        const auto tool = Bundle::pathForResource("wimsplit", "", "tools/bin");
        QVERIFY(tool && QFileInfo(*tool).isExecutable());
        QCOMPARE(Bundle::infoValue("CFBundleName"), std::optional<QString>("isoswm"));
        QVERIFY(!Bundle::infoValue("CFBundleShortVersionString").value_or(QString()).isEmpty());
    }

private:
    QString path(const QString &rel) const { return m_tmp->filePath(rel); }

    std::unique_ptr<QTemporaryDir> m_tmp;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
