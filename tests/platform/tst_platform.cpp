#include "FakeVolume.h"
#include "FileSystem.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// Makes each item below `root` in turn: "name/" a folder, "name->target" a
// symbolic link, anything else a file holding its name; ":755" sets permissions
// (only that, for an item already made).
void make(const QString &root, const QStringList &items)
{
    for (const QString &item : items) {
        const QString name = item.section(':', 0, 0).section("->", 0, 0);
        const QByteArray p = QFile::encodeName(root + '/' + name),
                         target = QFile::encodeName(item.section(':', 0, 0).section("->", 1));
        const QString mode = item.section(':', 1);
        QFile file(root + '/' + name);
        bool ok = ::access(p.constData(), F_OK) == 0 ? !mode.isEmpty()
                  : !target.isEmpty()  ? ::symlink(target.constData(), p.constData()) == 0
                  : name.endsWith('/') ? ::mkdir(p.constData(), 0755) == 0
                                       : file.open(QIODevice::WriteOnly) && file.write(p) > 0;
        if (!mode.isEmpty())
            ok = ok && ::chmod(p.constData(), mode.toUInt(nullptr, 8)) == 0;
        QVERIFY2(ok, qPrintable(item));
    }
}

constexpr auto readFile = &FakeVolume::read;

int statMode(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode) : -1;
}

// Root ignores permission bits, a user copying an r-x mounted volume cannot: runs `f` on
// a thread that gives up the privilege (capabilities belong to the thread on Linux).
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

// Every entry below `folder` as a relative path, sorted.
QStringList listTree(const QString &folder)
{
    QStringList out;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        out << it.next().mid(folder.size() + 1);
    out.sort();
    return out;
}

} // namespace

class PlatformTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_tmp.emplace().isValid()); }
    // Read-only folders would keep QTemporaryDir from clearing up.
    void cleanup() { QProcess::execute("chmod", {"-R", "u+rwx", m_tmp->path()}); }

    // A read-only volume copied without privilege, then refused destinations.
    void copiesTreeWithPermissionsAndLinks()
    {
        const QString src = path("Volume"), dst = path("staging");
        make(m_tmp->path(), {"Volume/", "outside/", "outside/not-copied", "dangling->nowhere"});
        make(src, {"a.txt", "run.sh:755", "private:600", "empty/:700", "sources/", "sources/deep/",
                   "sources/deep/leaf.txt:444", "sources/install.wim",
                   "link-out->" + path("outside"), "link-rel->a.txt", "dangling->missing",
                   "sources/deep/:555", "sources/:555", ".:555"});
        QStringList asked;
        const auto record = [&](const QString &p) {
            asked << p.mid(src.size() + 1);
            return true;
        };
        const FileSystem::CopyCallbacks callbacks{record, {}};
        const auto error =
            withoutPrivilege([&] { return FileSystem::copyItem(src, dst, callbacks); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");
        // Asked once each, top first, in name order; kinds, modes, contents and links kept.
        const QStringList items = listTree(src); // a folder before its items
        QCOMPARE(asked, QStringList{""} + items);
        QCOMPARE(listTree(dst), items);
        for (const QString &rel : QStringList{""} + items)
            QVERIFY2(statMode(dst + '/' + rel) == statMode(src + '/' + rel) &&
                         readFile(dst + '/' + rel) == readFile(src + '/' + rel),
                     qPrintable(rel));
        QCOMPARE(QFile::symLinkTarget(dst + "/link-rel"), dst + "/a.txt");
        QCOMPARE(QFile::symLinkTarget(dst + "/link-out"), path("outside"));
        QVERIFY(!FileSystem::copyItem(src + "/link-out", path("link-copy"), {}));
        QCOMPARE(QFile::symLinkTarget(path("link-copy")), path("outside"));

        // Never merged into or replaced, never copied into itself (endlessly).
        const QStringList before = listTree(m_tmp->path());
        for (const QString &to :
             {dst, path("dangling"), path("outside/not-copied/x"), path("outside/inner")}) {
            const auto refused =
                FileSystem::copyItem(to.endsWith("inner") ? path("outside") : src, to, {});
            QVERIFY2(refused && refused->details.contains(to), qPrintable(to));
        }
        const auto missing = FileSystem::copyItem(path("missing"), path("x"), {});
        QVERIFY(missing && missing->details.contains(path("missing")));
        QCOMPARE(listTree(m_tmp->path()), before);
    }

    // A refused folder is not entered, a fifo passed over, a stop ends the copy in the file;
    // an item that cannot be opened (a pulled medium) ends it with an error naming it and why.
    void copyEndsWhereTold_data()
    {
        QTest::addColumn<QString>("asks"); // after the top
        QTest::addColumn<QString>("copies");
        QTest::addColumn<int>("err");
        QTest::newRow("refuse") << QString("a b c pipe") << "a c" << 0;
        QTest::newRow("stop") << QString("a b b/bad") << "a b b/bad" << 0;
        QTest::newRow("vanish") << QString("a b b/bad") << "a b" << ENOENT;
    }
    void copyEndsWhereTold()
    {
        const QString fault = QTest::currentDataTag();
        QFETCH(int, err);
        const QString src = path("src");
        make(m_tmp->path(),
             {"src/", "src/a", "src/b/", "src/b/later", "src/b/y/", "src/b/y/z", "src/c"});
        QFile big(src + "/b/bad");
        QVERIFY(big.open(QIODevice::WriteOnly) && big.write(QByteArray(40 << 20, 'b')));
        big.close();
        QCOMPARE(::mkfifo(QFile::encodeName(src + "/pipe").constData(), 0644), 0);
        QStringList asked;
        qint64 copied = 0;
        const FileSystem::CopyCallbacks callbacks{
            [&](const QString &p) {
                asked << p.mid(src.size() + 1);
                if (fault == "vanish" && p.endsWith("/bad"))
                    QFile::remove(p);
                return fault != "refuse" || !p.endsWith("/b");
            },
            [&](qint64 bytes) { return fault != "stop" || (copied += bytes) < (16 << 20); }};
        const auto error = FileSystem::copyItem(src, path("dst"), callbacks);
        QTEST(asked.mid(1).join(' '), "asks");
        QTEST(listTree(path("dst")).join(' '), "copies");
        QVERIFY(copied < 40 << 20);
        QVERIFY2(err ? error && error->details.contains(src + "/b/bad") &&
                           error->message.contains("bad") &&
                           error->details.contains(QString::fromLocal8Bit(std::strerror(err)))
                     : !error,
                 error ? qPrintable(error->details) : "no error");
    }

    // Data and holes past 4 GiB kept, by the kernel within one file system and by read/write
    // to another (as from a FUSE mount); a virtual file that reports size 0 arrives whole.
    void copiesFileData()
    {
        const off_t size = (off_t(5) << 30) + 3 * 4096 + 3;
        const off_t marks[] = {(off_t(4) << 30) + 1, off_t(5) << 30, off_t(3) << 30};
        QFile random("/dev/urandom"), big(path("big.img"));
        const QByteArray head = random.open(QIODevice::ReadOnly) ? random.read(9 << 20) : "";
        QVERIFY(head.size() == 9 << 20 && big.open(QIODevice::WriteOnly) && big.write(head) &&
                big.resize(size) &&
                big.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        for (int i = 0; i < 2; ++i)
            QVERIFY(big.seek(marks[i]) && big.write(&"AB"[i], 1) == 1);
        big.close();
        QTemporaryDir shm("/dev/shm/isoswm-test-XXXXXX");
        for (const QString &copy : {path("copy.img"), shm.filePath("copy.img")}) {
            QVERIFY(!FileSystem::copyItem(path("big.img"), copy, {}));
            struct stat st;
            QVERIFY(::stat(QFile::encodeName(copy).constData(), &st) == 0);
            QVERIFY2(st.st_size == size && (st.st_mode & 07777) == 0640 &&
                         st.st_blocks < (64 << 11), // under 64 MiB on disk
                     qPrintable(copy));
            QFile f(copy);
            QVERIFY(f.open(QIODevice::ReadOnly) && f.read(head.size()) == head);
            for (int i = 0; i < 3; ++i)
                QVERIFY(f.seek(marks[i]) && f.read(1) == QByteArray(1, "AB"[i]));
        }
        const QByteArray version = readFile("/proc/version");
        QVERIFY(!version.isEmpty() && !FileSystem::copyItem("/proc/version", path("version"), {}));
        QCOMPARE(readFile(path("version")), version);
    }

    // Read-only contents resist removal without privilege until opened up (links left alone).
    void removesTrees()
    {
        const QString tree = path("tree");
        make(m_tmp->path(), {"kept/", "kept/precious", "tree/", "tree/sub/", "tree/sub/f:444",
                             "tree/zlink->" + path("kept"), "tree/sub/:555", "kept/:555"});
        auto error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY2(error && error->details.contains(tree + "/sub/f"), error ? "" : "no error");
        FileSystem::openUpTree(tree);
        QCOMPARE(statMode(path("kept")) & 07777, 0555);
        error = withoutPrivilege([&] { return FileSystem::removeItem(tree); });
        QVERIFY2(!error, error ? qPrintable(error->details) : "");
        QVERIFY(statMode(tree) < 0 && statMode(path("kept/precious")) >= 0);
        error = FileSystem::removeItem(tree);
        QVERIFY(error && error->details.contains(tree) &&
                error->details.contains(QString::fromLocal8Bit(std::strerror(ENOENT))));
    }

    // An exact match wins over one that differs in case.
    void findsChildIgnoringCase()
    {
        const QString dir = path("volume");
        make(m_tmp->path(), {"volume/", "volume/Sources/", "volume/sources/", "volume/Setup.EXE"});
        QStringList found; // "-" for none
        for (const QString name : {"sources", "Sources", "SETUP.exe", "boot"})
            found << FileSystem::childIgnoringCase(dir, name).value_or("-").section('/', -1);
        QCOMPARE(found, QStringList({"sources", "Sources", "Setup.EXE", "-"}));
        QVERIFY(!FileSystem::childIgnoringCase(path("absent"), "sources"));
    }

    // Values with their exact types (callers switch on them); anything else gives nothing.
    void parsesPropertyLists()
    {
        const QByteArray xml =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><array>"
            "<string>Grüße, “world”</string><integer>-7</integer><integer>5000000000</integer>"
            "<real>1.5</real><true/><false/><data>aGVsbG8=</data><date>2020-01-02T03:04:05Z"
            "</date><dict><key>mount-point</key><string>/run/isoswm/X</string><key>n</key>"
            "<integer>2</integer></dict></array></plist>";
        const QVariantMap dict{{"mount-point", "/run/isoswm/X"}, {"n", qint64(2)}};
        const QDateTime when(QDate(2020, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
        const QVariantList expected = QVariantList() << QString("Grüße, “world”") << qint64(-7)
                                                     << qint64(5000000000) << 1.5 << true << false
                                                     << QByteArray("hello") << when << dict;
        const QVariantList got = PropertyList::parse(xml).value_or(QVariant()).toList();
        QCOMPARE(got, expected);
        for (qsizetype i = 0; i < expected.size(); ++i)
            QCOMPARE(got[i].metaType(), expected[i].metaType());
        for (const QByteArray &bad :
             {QByteArray(), QByteArray("not a property list"), QByteArray("bplist00"),
              QByteArray("<?xml version=\"1.0\"?><plist>"), xml.left(200), QByteArray(64, '\0')})
            QVERIFY2(!PropertyList::parse(bad), bad.constData());
    }

private:
    QString path(const QString &rel) const { return m_tmp->filePath(rel); }

    std::optional<QTemporaryDir> m_tmp;
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "tst_platform.moc"
