#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

#include <atomic>

// A step that fills the stick's image, which the temporary folder holds:
// mtools tells nothing while it copies, but what the image takes on disk
// grows with every file.
class StickFillStep : public ThreadStep {
protected:
    StickFillStep(const QString &image, QString temporaryFolder)
        : m_image(image), m_temporaryFolder(std::move(temporaryFolder))
    {}
    // Measures `stage` by what the image takes beyond what it holds now.
    void measureImage(StageDetail::Stage stage, qint64 total);
    void filled(const std::optional<Error> &error);

    const QString &m_image;
    QString m_temporaryFolder;
    std::atomic<qint64> m_base{-1};
};

// The stick's image, of the drive's size, with its partition table, its file
// system and the source's files but for the Windows image. The empty file
// system first: it reads nothing from the source.
class StickTreeStep : public StickFillStep {
public:
    struct Input {
        qint64 size = 0;   // the drive's
        QString mountPath; // the source's files, and the label
        QString excluded;  // the Windows image, relative to the mount
        qint64 bytes = 0;  // what is copied
        QString temporaryFolder;
        QString workFolder;
        const SetupPlan *setup = nullptr; // files that take the source's place, or join them
    };
    StickTreeStep(Input input, QString &image);

protected:
    void run() override;

private:
    Input m_input;
};

// The verified pieces go into the stick's image one by one, each removed once
// it is in, so they are never in the temporary folder twice.
class StickPiecesStep : public StickFillStep {
public:
    StickPiecesStep(const SplitSet &split, const QString &image, QString sourcesName,
                    QString temporaryFolder)
        : StickFillStep(image, std::move(temporaryFolder)), m_split(split),
          m_sourcesName(std::move(sourcesName))
    {}

protected:
    void run() override;

private:
    const SplitSet &m_split;
    QString m_sourcesName;
};
