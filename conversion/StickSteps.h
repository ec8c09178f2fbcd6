#pragma once

#include "RunValues.h"
#include "StickImage.h"
#include "ThreadStep.h"

// What the steps that build the stick share: its image, which the temporary
// folder holds, and the stream that writes it to the drive as it fills.
struct StickOutput {
    OpenDrive &drive;
    QString &image;
    std::shared_ptr<StickStream> &stream;
    QString temporaryFolder;
};

// A step that puts files into the stick's image; each batch of them goes on
// to the drive as soon as it is in.
class StickFillStep : public ThreadStep {
protected:
    explicit StickFillStep(StickOutput out) : m_out(std::move(out)) {}
    StickImage::Placed placed() const;
    void filled(const std::optional<Error> &error);

    StickOutput m_out;
};

// The stick's image, of the drive's size, with its partition table and its
// file system, and the stream that writes it; then the source's files but for
// the Windows image. From here until the read-back the bar follows the bytes
// on the drive.
class StickTreeStep : public StickFillStep {
public:
    struct Input {
        qint64 bytes = 0;  // all the stick will hold, the pieces too
        QString mountPath; // the source's files, and the label
        QString excluded;  // the Windows image, relative to the mount
        QString workFolder;
        const SetupPlan *setup = nullptr; // files that take the source's place, or join them
    };
    StickTreeStep(Input input, StickOutput out);

protected:
    void run() override;

private:
    using Opened = std::variant<std::shared_ptr<StickStream>, Error>;
    void opened(Opened result);
    void followTheDrive(qint64 total);

    Input m_input;
};

// The pieces take their place in the stick's file system, and their data
// goes to the drive straight from them, while they are verified; none is
// held twice. Each is removed once it is on the drive and verified
// (StickStream::release).
class StickPiecesStep : public StickFillStep {
public:
    StickPiecesStep(const SplitSet &split, QString sourcesName, StickOutput out)
        : StickFillStep(std::move(out)), m_split(split), m_sourcesName(std::move(sourcesName))
    {}

protected:
    void run() override;

private:
    const SplitSet &m_split;
    QString m_sourcesName;
};
