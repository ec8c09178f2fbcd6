#pragma once

#include <QString>
#include <QStringList>

// A conversion's temporary directory carries a marker that its process keeps
// locked for as long as it lives, naming the partial outputs it may leave
// beside the destination. A directory whose marker nobody holds belongs to a
// run that died; the next run removes it and what it names.
class RunMarker {
public:
    RunMarker() = default;
    ~RunMarker();
    RunMarker(const RunMarker &) = delete;
    RunMarker &operator=(const RunMarker &) = delete;

    // Makes and locks the marker in `temporaryDirectory`; false when it cannot.
    bool create(const QString &temporaryDirectory);
    // Notes a path outside the directory that the run may leave half-written.
    void recordPartial(const QString &path);
    // Lets go of the marker; the directory is about to be removed.
    void release();

    static constexpr const char *kFileName = ".isoswm-run";

private:
    int m_fd = -1;
};

namespace Leftovers {

// Removes the temporary directories ("iso-XXXXXX") in `temporaryFolder` that
// belong to this user and to a run that is gone, and the partial outputs they
// name. Returns what it removed.
QStringList sweep(const QString &temporaryFolder);

// The name pattern of a partial output beside `destination`, for
// QTemporaryDir: "<destination>.isoswm-XXXXXX.part".
QString partialTemplate(const QString &destination);

} // namespace Leftovers
