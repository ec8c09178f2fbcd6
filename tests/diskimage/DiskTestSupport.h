#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Shared by the disk-tool tests: running the real tools, looking at the kernel's
// mount table and processes without the code under test, and comparing trees.
namespace DiskTest {

struct Run {
    int exitCode = -1;
    bool crashed = false;
    QByteArray out;
    QByteArray err;
};

QString hdiutil();
QString diskutil();

// Runs a program to its end (two minutes at most).
Run run(const QString &program, const QStringList &arguments);

// The mount point named by attach output "/dev/fuse\t\t<mount point>\n", or an
// empty string when the output does not have that form.
QString mountPointFromAttach(const QByteArray &out);

struct AttachedImage {
    QString imagePath;
    QStringList mountPoints;
    QStringList devEntries;
};
// Parses `hdiutil info -plist` output with libplist; false when it is no
// property list of the expected shape.
bool parseInfo(const QByteArray &plist, QList<AttachedImage> *images);

// Mount points in the kernel's table (escapes decoded) below `prefix`.
QStringList mountsBelow(const QString &prefix);
// Live (not zombie) processes whose command line has `text` as an argument.
QList<int> processesWithArgument(const QString &text);

// Unmounts everything below `prefix` lazily and kills servers left for it.
// For cleanup after failures; does not use the code under test.
void forceCleanup(const QString &prefix);

// Relative path -> size (-1 for folders) of everything below `root`.
QMap<QString, qint64> listing(const QString &root);
// Byte-for-byte comparison; on a difference says where in `why`.
bool sameBytes(const QString &a, const QString &b, QString *why);
// Compares two trees' listings and the bytes of every file.
bool sameTree(const QString &expected, const QString &actual, QString *why);

// Writes `size` bytes of pseudo-random data derived from `seed`.
bool writeFile(const QString &path, qint64 size, quint32 seed);

// genisoimage with ISO 9660 level 3, Rock Ridge and UDF; output written
// sparse (zero blocks become holes) so big images cost little disk.
bool makeUdfIso(const QString &folder, const QString &label, const QString &iso, QString *why);

} // namespace DiskTest
