#pragma once

#include "Leftovers.h"
#include "RunValues.h"
#include "ThreadStep.h"
#include "ToolStep.h"
#include "Worker.h"

// The new image, built by hdiutil makehybrid into a folder of its own beside
// the destination, so that a file there stays as it was until the image is
// complete and verified.
class BuildStep : public ToolStep {
public:
    struct Input {
        QString hdiutil;
        QString destination;
        QString tree; // the staging copy, or the mounted volume
        QStringList bootArguments;
        qint64 expected = 0; // the tree's bytes
        // From the mount: the Windows image there is left out, and the
        // pieces take its place in the sources folder.
        bool fromMount = false;
        QString excluded; // "sources/install.wim", relative to the tree
        QString sourcesName;
        const SplitSet *pieces = nullptr;
        const SetupPlan *setup = nullptr; // files that take the source's place, or join them
        std::shared_ptr<RunMarker> marker;
    };
    BuildStep(Input input, QString &built) : m_input(std::move(input)), m_built(built) {}

protected:
    void run() override;
    void outputLine(const QString &line) override;
    void started(QNTaskWrapperWithBlocks *runner) override;
    std::optional<Error> checkOutput() override;

private:
    QStringList arguments(const QString &output) const;

    Input m_input;
    QString &m_built;
    QString m_partialFolder;
    Worker m_worker;
};

// With the option, the source's boot entries are found again in the tree the
// new image is built from (it reads files); a source that cannot give them is
// built without them, and the user is told.
class BootPlanStep : public ThreadStep {
public:
    BootPlanStep(QString sourceImage, QString tree, BootImages::Plan &plan)
        : m_sourceImage(std::move(sourceImage)), m_tree(std::move(tree)), m_plan(plan)
    {}

protected:
    void run() override;

private:
    QString m_sourceImage;
    QString m_tree;
    BootImages::Plan &m_plan;
};
