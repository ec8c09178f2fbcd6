#include "SetupImage.h"

#include "WimSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <hivex.h>

namespace SetupImage {

namespace {

QString property(WIMStruct *wim, int image, const char *name)
{
    return QString::fromUtf8(wimlib_get_image_property(wim, image, name));
}

Error adjustError(const QString &path, const QString &reason)
{
    return {QCoreApplication::translate("Conversion", "Windows Setup could not be adjusted."),
            QStringLiteral("%1 (%2)").arg(reason, path)};
}

Error hiveError(const QString &hive)
{
    return adjustError(hive, QString::fromLocal8Bit(std::strerror(errno ? errno : EINVAL)));
}

struct HiveClose {
    void operator()(hive_h *h) const { hivex_close(h); }
};

// The child key `name` of `parent`, made when it is missing; 0 on error.
hive_node_h childKey(hive_h *h, hive_node_h parent, const char *name)
{
    errno = 0;
    const hive_node_h child = hivex_node_get_child(h, parent, name);
    if (child != 0 || errno != 0)
        return child;
    return hivex_node_add_child(h, parent, name);
}

} // namespace

std::variant<BootFacts, Error> inspectBoot(const QString &bootWim)
{
    WimSupport::WimPtr wim;
    if (const int code = WimSupport::openWim(bootWim, wim))
        return WimSupport::openError(code, bootWim);
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim.get(), &info);
    BootFacts facts;
    // Media with no boot index mark (rare, old) boot the second image.
    facts.bootIndex = info.boot_index ? int(info.boot_index) : std::min(2, int(info.image_count));
    if (facts.bootIndex < 1)
        return facts;
    facts.bootName = property(wim.get(), facts.bootIndex, "NAME");
    const int code = wimlib_iterate_dir_tree(
        wim.get(), facts.bootIndex, kHivePath, 0,
        [](const wimlib_dir_entry *, void *) { return 0; }, nullptr);
    if (code != 0 && code != WIMLIB_ERR_PATH_DOES_NOT_EXIST)
        return WimSupport::openError(code, bootWim);
    facts.hasHive = code == 0;
    return facts;
}

WindowsFacts inspectWindows(const QString &installImage)
{
    WindowsFacts facts;
    WimSupport::WimPtr wim;
    if (WimSupport::openWim(installImage, wim) != 0)
        return facts;
    // WIM metadata numbers processors as Windows does: 12 is ARM64, 9 x64.
    if (property(wim.get(), 1, "WINDOWS/ARCH") == QLatin1String("12"))
        facts.architecture = QStringLiteral("arm64");
    for (int n = 1;; ++n) {
        const QByteArray name = "WINDOWS/LANGUAGES/LANGUAGE[" + QByteArray::number(n) + "]";
        const QString language = property(wim.get(), 1, name.constData());
        if (language.isEmpty())
            break;
        facts.languages << language;
    }
    return facts;
}

std::optional<Error> addLabConfig(const QString &hive)
{
    errno = 0;
    std::unique_ptr<hive_h, HiveClose> h(
        hivex_open(QFile::encodeName(hive).constData(), HIVEX_OPEN_WRITE));
    if (!h)
        return hiveError(hive);
    hive_node_h key = childKey(h.get(), hivex_root(h.get()), "Setup");
    if (key != 0)
        key = childKey(h.get(), key, "LabConfig");
    if (key == 0)
        return hiveError(hive);
    char one[4] = {1, 0, 0, 0}; // REG_DWORD, little-endian
    for (const char *name :
         {"BypassTPMCheck", "BypassSecureBootCheck", "BypassRAMCheck", "BypassCPUCheck"}) {
        const hive_set_value value{const_cast<char *>(name), hive_t_REG_DWORD, sizeof one, one};
        if (hivex_node_set_value(h.get(), key, &value, 0) != 0)
            return hiveError(hive);
    }
    if (hivex_commit(h.get(), nullptr, 0) != 0)
        return hiveError(hive);
    return std::nullopt;
}

std::optional<Error> skipHardwareChecks(const QString &source, const QString &destination,
                                        const QString &scratch, const WimImage::Progress &progress)
{
    WimSupport::WimPtr wim;
    if (const int code = WimSupport::openWim(source, wim))
        return WimSupport::openError(code, source);
    WimSupport::ProgressRelay relay(progress);
    relay.attach(wim.get());
    wimlib_wim_info info{};
    wimlib_get_wim_info(wim.get(), &info);
    const int index = info.boot_index ? int(info.boot_index) : std::min(2, int(info.image_count));
    const QByteArray folder = QFile::encodeName(scratch);
    const char *paths[] = {kHivePath};
    int code = wimlib_extract_paths(wim.get(), index, folder.constData(), paths, 1,
                                    WIMLIB_EXTRACT_FLAG_NO_PRESERVE_DIR_STRUCTURE |
                                        WIMLIB_EXTRACT_FLAG_NO_ACLS);
    if (code != 0)
        return WimSupport::wimError(code, source, adjustError(source, QString()).message);
    const QString hive = QDir(scratch).filePath(QStringLiteral("SYSTEM"));
    if (std::optional<Error> error = addLabConfig(hive))
        return error;
    const QByteArray hiveName = QFile::encodeName(hive);
    wimlib_update_command command{};
    command.op = WIMLIB_UPDATE_OP_ADD;
    command.add.fs_source_path = const_cast<char *>(hiveName.constData());
    command.add.wim_target_path = const_cast<char *>(kHivePath);
    code = wimlib_update_image(wim.get(), index, &command, 1, 0);
    if (code == 0) {
        const int flags = info.has_integrity_table ? WIMLIB_WRITE_FLAG_CHECK_INTEGRITY : 0;
        code = wimlib_write(wim.get(), QFile::encodeName(destination).constData(),
                            WIMLIB_ALL_IMAGES, flags, 0);
    }
    QFile::remove(hive);
    if (code == 0)
        return std::nullopt;
    QFile::remove(destination);
    return WimSupport::wimError(code, destination, adjustError(destination, QString()).message);
}

} // namespace SetupImage
