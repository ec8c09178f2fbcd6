#pragma once

#include "RunValues.h"
#include "ToolStep.h"

// wimsplit cuts install.wim into install.swm, install2.swm, ... of at most
// 2048 MB. A split counts only when wimsplit says so and its pieces are
// there, each small enough for FAT32.
class SplitStep : public ToolStep {
public:
    // Told each piece's path once wimsplit has gone on to the next one, so
    // that it can be used while the rest is made; an error fails the split.
    using PieceDone = std::function<std::optional<Error>(const QString &piece)>;

    // `temporaryFolder` names a full disk.
    SplitStep(const SplitSet &split, QString temporaryFolder, PieceDone pieceDone = {})
        : m_split(split), m_temporaryFolder(std::move(temporaryFolder)),
          m_pieceDone(std::move(pieceDone))
    {}

protected:
    void run() override;
    void outputLine(const QString &line) override;
    void started(QNTaskWrapperWithBlocks *runner) override;
    std::optional<Error> checkOutput() override;
    Error failure() const override;

private:
    const SplitSet &m_split;
    QString m_temporaryFolder;
    PieceDone m_pieceDone;
    int m_part = 1; // the piece wimsplit is on
    std::optional<Error> m_pieceError;
};

// The staging copy's sources folder made writable, and the install.wim in it
// found for the split.
class StagedSourcesStep : public Step {
public:
    StagedSourcesStep(QString sources, SplitSet &split)
        : m_sources(std::move(sources)), m_split(split)
    {}

protected:
    void run() override;

private:
    QString m_sources;
    SplitSet &m_split;
};
