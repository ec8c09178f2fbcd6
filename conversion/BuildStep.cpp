#include "BuildStep.h"

#include "Conversion.h"
#include "FileSystem.h"
#include "Log.h"
#include "PathName.h"
#include "RunContext.h"

#include <QFileInfo>
#include <QTemporaryDir>

void BuildStep::run()
{
    QTemporaryDir partial(Leftovers::partialTemplate(m_input.destination));
    if (!partial.isValid()) {
        finish(Error{Conversion::tr("The new image cannot be written beside “%1”.")
                         .arg(QFileInfo(m_input.destination).fileName()),
                     partial.errorString()});
        return;
    }
    partial.setAutoRemove(false);
    m_partialFolder = partial.path();
    m_input.marker->recordPartial(m_partialFolder);
    context().teardown().push([this](std::function<void()> next) {
        m_worker.run(
            [folder = m_partialFolder] {
                if (QFileInfo::exists(folder)) {
                    FileSystem::openUpTree(folder);
                    FileSystem::removeItem(folder);
                }
                return true;
            },
            [next = std::move(next)](bool) { next(); });
    });
    m_built = PathName::join(m_partialFolder, QFileInfo(m_input.destination).fileName());
    // The image builder tells its progress only now and then, and not at all
    // for a small image; the bytes it has written tell it all the time.
    auto poll = [built = m_built, expected = m_input.expected](ProgressMeter &meter) {
        meter.atLeast(std::min(QFileInfo(built).size(), expected));
    };
    launch({QStringLiteral("hdiutil makehybrid"), arguments(m_built),
            QT_TRANSLATE_NOOP("Conversion", "Creating ISO"), StageDetail::Stage::Build,
            m_input.expected, Conversion::tr("The new ISO could not be created."),
            QFileInfo(m_input.destination).absolutePath(), m_input.fromMount,
            QStringLiteral("output:%1"), poll});
}

QStringList BuildStep::arguments(const QString &output) const
{
    QStringList arguments{m_input.hdiutil,        QStringLiteral("makehybrid"),
                          QStringLiteral("-iso"), QStringLiteral("-udf"),
                          QStringLiteral("-o"),   output};
    arguments << m_input.bootArguments;
    if (!m_input.fromMount)
        return arguments << m_input.tree;
    arguments << QStringLiteral("-exclude") << m_input.excluded;
    const QString sources = m_input.sourcesName + QLatin1Char('/');
    for (const QString &piece : m_input.pieces->pieces())
        arguments << QStringLiteral("-graft")
                  << sources + piece + QLatin1Char('=') +
                         PathName::join(m_input.pieces->folder, piece);
    // Windows Setup's adjusted files, over the source's or beside them.
    if (const SetupPlan *setup = m_input.setup) {
        for (const QString &replaced : setup->replaced)
            arguments << QStringLiteral("-exclude") << replaced;
        for (const QString &file : setup->files())
            arguments << QStringLiteral("-graft")
                      << file + QLatin1Char('=') + PathName::join(setup->overlay, file);
    }
    return arguments << m_input.tree;
}

void BuildStep::outputLine(const QString &line)
{
    if (const auto percent = ToolProgress::genisoimage(line))
        context().meter().atLeast(qint64(*percent / 100.0 * double(m_input.expected)));
}

void BuildStep::started(QNTaskWrapperWithBlocks *runner)
{
    emit context().buildRunnerStarted(runner);
}

std::optional<Error> BuildStep::checkOutput()
{
    if (QFileInfo(m_built).size() <= 0)
        return failure();
    return std::nullopt;
}

void BootPlanStep::run()
{
    inBackground([source = m_sourceImage, tree = m_tree] { return BootImages::plan(source, tree); },
                 [this](BootImages::Plan plan) {
                     if (!plan.notice.isEmpty() && context().running()) {
                         Log::write(QStringLiteral("no boot records: %1").arg(plan.notice));
                         emit context().notice(
                             Conversion::tr("The new image will not boot: %1").arg(plan.notice));
                     }
                     m_plan = std::move(plan);
                     finish(std::nullopt);
                 });
}
