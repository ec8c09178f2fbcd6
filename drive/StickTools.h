#pragma once

#include "StickImage.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QProcess>

// The tools that build a stick's image (sfdisk, mtools), run one at a time on
// the calling thread, and what they tell.
namespace StickImage::Tools {

struct Ran {
    bool ok = false;
    QByteArray out;
    QString failure; // what to tell when not ok
    bool stopped = false;
};

// The tools of one call share its KeepGoing and its Placed.
struct Going {
    explicit Going(const KeepGoing &keepGoing, const Placed &placed = {});
    ~Going();
};

// Starts `name` from PATH or sbin, in a C.UTF-8 locale.
bool start(QProcess &process, const QString &name, const QStringList &arguments, Ran *ran);
// Its end, stopped when the call's KeepGoing says so or when it takes too long.
void wait(QProcess &process, const QString &name, Ran *ran);
Ran run(const QString &name, const QStringList &arguments, const QByteArray &input = {});
bool keepGoing();
// The call's Placed, told that files are in.
std::optional<Error> tellPlaced();
Error failed(const Ran &ran);

// "IMAGE@@1048576": the file system inside the image, for mtools.
QString inside(const QString &image);

} // namespace StickImage::Tools
