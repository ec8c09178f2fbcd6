#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Shared by the disk-tool tests: running the real tools, and looking at the
// kernel's mount table and processes without the code under test.
namespace DiskTest {

struct Run {
    int exitCode = -1; // also for a crash, or no end within two minutes
    QByteArray out;
    QByteArray err;
};
Run run(const QString &program, const QStringList &arguments);
inline const QString kHdiutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/hdiutil");
inline const QString kDiskutil = QStringLiteral(ISOSWM_LIBEXEC_DIR "/diskutil");

// Points $XDG_RUNTIME_DIR into `work`; returns the folder mount points go to.
QString useRuntimeFolder(const QString &work);
// The mount point from attach output "/dev/fuse\t\t<mount point>\n", read
// through a pipe to its end as the application reads it (the server must not
// keep the output open); empty when attach failed or printed anything else.
// The mount is this test's: it ends with the test process.
QString attach(const QString &image);

struct AttachedImage {
    QString imagePath;
    QStringList mountPoints;
    QStringList devEntries;
    qint64 ownerPid = 0;
    bool ownerAlive = false;
};
// `hdiutil info -plist`, only the images mounted below `folder`.
QList<AttachedImage> info(const QString &folder);

// Mount points in the kernel's table below `folder`.
QStringList mountsBelow(const QString &folder);
// Live (not zombie) processes with `text` as one argument (or its start).
QList<int> processesWithArgument(const QString &text, bool prefixOnly = false);
// Unmounts lazily and kills the servers below `folder`, after a failure.
void forceCleanup(const QString &folder);

// What diff finds between two trees (names, kinds, bytes); empty when alike.
QString treeDifference(const QString &expected, const QString &actual);
// `size` bytes of pseudo-random data derived from `seed`; makes the folders.
bool writeFile(const QString &path, qint64 size, quint32 seed);
// ISO 9660 level 3, Rock Ridge and UDF by genisoimage, written sparse; empty
// on success, else genisoimage's complaint.
QString makeUdfIso(const QString &folder, const QString &label, const QString &iso);

} // namespace DiskTest
