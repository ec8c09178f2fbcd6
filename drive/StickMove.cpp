#include "StickImage.h"
#include "StickTools.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace StickImage {

namespace {

using namespace Tools;

struct Text {
    Q_DECLARE_TR_FUNCTIONS(StickImage)
};

constexpr qint64 kChunk = 4 << 20;

Error unreadable(const QString &file, int error)
{
    return {Text::tr("The USB installer could not be built."),
            file + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error)), error};
}

// Hands the file to the tool through its input, giving back each part of
// the file once the tool has taken it.
std::optional<Error> feed(int source, const QString &file, QProcess &process, Ran *ran)
{
    QByteArray buffer(kChunk, Qt::Uninitialized);
    bool giveBack = true;
    for (qint64 at = 0;;) {
        const ssize_t got = pread(source, buffer.data(), size_t(kChunk), at);
        if (got < 0)
            return unreadable(file, errno);
        if (got == 0)
            return std::nullopt;
        process.write(buffer.constData(), got);
        while (process.bytesToWrite() > 0 && !process.waitForBytesWritten(100)) {
            if (!keepGoing() || process.state() == QProcess::NotRunning) {
                wait(process, QStringLiteral("mcopy"), ran);
                return failed(*ran);
            }
        }
        if (giveBack &&
            fallocate(source, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, got) != 0)
            giveBack = false;
        at += got;
    }
}

} // namespace

std::optional<Error> moveFile(const QString &image, const QString &file, const QString &folder,
                              const KeepGoing &keepGoing, const Placed &placed)
{
    const Going going(keepGoing, placed);
    const int source = ::open(QFile::encodeName(file).constData(), O_RDWR | O_CLOEXEC);
    if (source < 0)
        return unreadable(file, errno);
    Ran ran;
    QProcess process;
    const QString target = QStringLiteral("::") + folder + QLatin1Char('/') +
                           QFileInfo(file).fileName();
    std::optional<Error> error;
    if (!start(process, QStringLiteral("mcopy"),
               {QStringLiteral("-Q"), QStringLiteral("-D"), QStringLiteral("o"),
                QStringLiteral("-i"), inside(image), QStringLiteral("-"), target},
               &ran))
        error = failed(ran);
    else if (!(error = feed(source, file, process, &ran))) {
        process.closeWriteChannel();
        wait(process, QStringLiteral("mcopy"), &ran);
        if (!ran.ok)
            error = failed(ran);
    }
    ::close(source);
    if (error)
        return error;
    if (!QFile::remove(file))
        return unreadable(file, errno ? errno : EIO);
    return tellPlaced();
}

} // namespace StickImage
