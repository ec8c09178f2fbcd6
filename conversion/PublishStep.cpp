#include "PublishStep.h"

#include "Conversion.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>

void PublishStep::run()
{
    const bool replace =
        m_replacing.anything ||
        (m_replacing.file && FileSystem::identityOf(m_destination) == m_replacing.file);
    const int err = replace ? (::rename(QFile::encodeName(m_built).constData(),
                                        QFile::encodeName(m_destination).constData()) == 0
                                   ? 0
                                   : errno)
                            : FileSystem::renameWithoutReplacing(m_built, m_destination);
    if (err == EEXIST) {
        finish(
            Error{Conversion::tr("“%1” already exists.").arg(QFileInfo(m_destination).fileName()),
                  Conversion::tr("It appeared in “%1” while the new image was being made, and "
                                 "was left as it is. Choose another name, or replace it.")
                      .arg(QFileInfo(m_destination).absolutePath()),
                  err});
        return;
    }
    if (err != 0) {
        finish(Error::fromErrno(err, m_destination, Conversion::tr("saved")));
        return;
    }
    finish(std::nullopt);
}
