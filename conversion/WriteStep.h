#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

#include <atomic>

// The end of the stick's write: what is still on its way, the file
// system's tables, the partition tables last, then everything read back; the
// drive is closed and the disk service reads its new table. Whatever stops the
// write after the tables went on takes them away again: the stick never looks
// like a finished one.
class WriteStep : public ThreadStep {
public:
    WriteStep(OpenDrive &drive, std::shared_ptr<StickStream> &stream, Stretch readBack)
        : m_drive(drive), m_stream(stream), m_readBack(readBack)
    {}

protected:
    void run() override;

private:
    void readingBack(qint64 total);
    void written(std::optional<Error> error);

    OpenDrive &m_drive;
    std::shared_ptr<StickStream> &m_stream;
    Stretch m_readBack;
};
