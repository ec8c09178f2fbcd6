#pragma once

#include "Error.h"
#include "WimImage.h"

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// Windows Setup's own image (boot.wim) read and adjusted through libwim, its
// registry through hivex.
namespace SetupImage {

// The registry hive setup reads at start, inside the Setup image.
inline constexpr char kHivePath[] = "/Windows/System32/config/SYSTEM";

struct BootFacts {
    int bootIndex = 0; // the Setup image, 1-based
    QString bootName;
    bool hasHive = false;
};
std::variant<BootFacts, Error> inspectBoot(const QString &bootWim);

// The installed Windows' processor ("amd64" or "arm64"; amd64 when the image
// names another or none) and the languages it carries ("en-US", ...).
struct WindowsFacts {
    QString architecture = QStringLiteral("amd64");
    QStringList languages;
};
WindowsFacts inspectWindows(const QString &installImage);

// Setup's LabConfig values that turn off the TPM, Secure Boot, memory and
// processor checks, set to 1 in the hive file `hive`; every other key and
// value stays.
std::optional<Error> addLabConfig(const QString &hive);

// `source` written to `destination` with the Setup image's SYSTEM hive so
// adjusted; `scratch` is a folder for the hive meanwhile. Every other image
// and file, and the boot index, stay as they were. `progress` may stop it.
std::optional<Error> skipHardwareChecks(const QString &source, const QString &destination,
                                        const QString &scratch, const WimImage::Progress &progress);

} // namespace SetupImage
