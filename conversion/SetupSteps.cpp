#include "SetupSteps.h"

#include "AnswerFile.h"
#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "SetupImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>

namespace {

Error refusal(const QString &found)
{
    return {Conversion::tr("This image carries an answer file of its own."),
            Conversion::tr("“%1” is on the image, and Windows Setup would follow it rather "
                           "than the Windows Setup options. Convert it without them.")
                .arg(found)};
}

struct Checked {
    std::optional<Error> error;
    SetupPlan plan;
};

Checked check(const SetupOptions &o, const SourceCheck::Layout &layout, const QString &mount)
{
    Checked checked;
    SetupPlan &plan = checked.plan;
    if (o.writesAnswerFile()) {
        const QString root = SetupCheckStep::entryOf(mount, QStringLiteral("autounattend.xml"));
        const QString oem = SetupCheckStep::entryOf(layout.sourcesFolder, QStringLiteral("$OEM$"));
        if (!root.isEmpty() || !oem.isEmpty()) {
            checked.error =
                refusal(root.isEmpty() ? layout.sourcesName() + QLatin1Char('/') + oem : root);
            return checked;
        }
        const SetupImage::WindowsFacts windows = SetupImage::inspectWindows(layout.imagePath);
        plan.architecture = windows.architecture;
        plan.languages = windows.languages;
    }
    if (!o.editsBootWim())
        return checked;
    const QString name = SetupCheckStep::entryOf(layout.sourcesFolder, QStringLiteral("boot.wim"));
    const QString bootWim = PathName::join(layout.sourcesFolder, name);
    const auto facts = SetupImage::inspectBoot(bootWim);
    if (const Error *error = std::get_if<Error>(&facts)) {
        checked.error = *error;
        return checked;
    }
    const auto &boot = std::get<SetupImage::BootFacts>(facts);
    if (name.isEmpty() || !boot.hasHive) {
        checked.error =
            Error{Conversion::tr("Windows Setup on this image cannot skip the hardware checks."),
                  Conversion::tr("%1/boot.wim holds no registry hive (%2) in its Setup image %3 "
                                 "(“%4”). Convert it without skipping the hardware checks.")
                      .arg(layout.sourcesName(), QLatin1String(SetupImage::kHivePath + 1))
                      .arg(boot.bootIndex)
                      .arg(boot.bootName)};
        return checked;
    }
    plan.bootWim = bootWim;
    plan.replaced << layout.sourcesName() + QLatin1Char('/') + name;
    return checked;
}

} // namespace

QString SetupCheckStep::entryOf(const QString &folder, const QString &name)
{
    const QStringList entries = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden |
                                                       QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return entry;
    }
    return QString();
}

void SetupCheckStep::run()
{
    inBackground([o = m_options, &layout = m_layout,
                  mount = m_mountPath] { return check(o, layout, mount); },
                 [this](Checked checked) {
                     if (!checked.error)
                         m_plan = checked.plan;
                     finish(checked.error);
                 },
                 true);
}

void SetupStep::run()
{
    context().report(QT_TRANSLATE_NOOP("Conversion", "Adjusting Windows Setup"));
    m_plan.overlay = PathName::join(m_workFolder, QStringLiteral("setup"));
    const QString sources = PathName::join(m_plan.overlay, m_sourcesName);
    if (!QDir().mkpath(sources)) {
        finish(Error::fromErrno(EACCES, sources, Conversion::tr("created")));
        return;
    }
    inBackground(
        [this, sources, o = m_options, plan = m_plan]() -> std::optional<Error> {
            if (o.editsBootWim()) {
                Log::write(QStringLiteral("adjusting %1: the hardware checks skipped")
                               .arg(plan.replaced.first()));
                const QString target = PathName::join(m_plan.overlay, plan.replaced.first());
                if (auto error = SetupImage::skipHardwareChecks(
                        plan.bootWim, target, plan.overlay,
                        [this](quint64, quint64) { return keepGoing(); }))
                    return error;
            }
            if (!o.writesAnswerFile())
                return std::nullopt;
            const QString file = PathName::join(sources, QLatin1String(AnswerFile::kRelativePath));
            Log::write(QStringLiteral("writing the answer file %1").arg(file));
            const AnswerFile::Regional regional = o.regionalSettingsFromThisComputer
                                                      ? AnswerFile::fromThisComputer(plan.languages)
                                                      : AnswerFile::Regional{};
            QDir().mkpath(QFileInfo(file).absolutePath());
            QFile out(file);
            if (!out.open(QIODevice::WriteOnly) ||
                out.write(AnswerFile::make(o, plan.architecture, regional)) < 0 || !out.flush())
                return Error::fromErrno(errno ? errno : EIO, file, Conversion::tr("written"));
            return std::nullopt;
        },
        [this](std::optional<Error> error) {
            if (!error && m_options.writesAnswerFile())
                m_plan.added << m_sourcesName + QStringLiteral("/$OEM$");
            finish(error);
        });
}

std::optional<Error> SetupStep::moveInto(const SetupPlan &plan, const QString &tree)
{
    for (const QString &relative : plan.files()) {
        const QString target = PathName::join(tree, relative);
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(PathName::join(plan.overlay, relative)).data(),
                                QFile::encodeName(target).data(), ec);
        if (ec)
            return Error::fromErrorCode(ec, target, Conversion::tr("moved"));
    }
    return std::nullopt;
}
