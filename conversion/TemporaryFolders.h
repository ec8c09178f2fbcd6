#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Where a run's large temporary files go: the folder the user chose, else
// TMPDIR, else /var/tmp, the system's place for large temporary files (/tmp
// is often memory). Every folder a run has used is remembered in the user's
// state folder, so that what a killed run left there is found again.
namespace TemporaryFolders {

constexpr const char *kLargeDefault = "/var/tmp";

// `chosen` when there is one; TMPDIR as given (a folder that does not exist
// must fail rather than send the files somewhere else); else /var/tmp.
QString resolve(const QString &chosen);
// Why `folder` cannot take temporary files at all (it does not exist, is no
// folder, or cannot be written), naming it; nothing when it can.
std::optional<QString> refusal(const QString &folder);

// Notes that a run makes its directory in `folder`.
void remember(const QString &folder);
// The folders where runs may have left directories: `current`, TMPDIR,
// /var/tmp and every folder remembered, each once.
QStringList places(const QString &current);

} // namespace TemporaryFolders
