#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

#include <atomic>

// The stick's image written onto the drive in one sequential pass, its
// partition tables last, then read back; the drive is closed and the disk
// service reads its new table. Whatever stops the write after it began, the
// writer takes the tables away again: the stick never looks like a finished one.
class WriteStep : public ThreadStep {
public:
    WriteStep(OpenDrive &drive, const QString &image, Stretch readBack)
        : m_drive(drive), m_image(image), m_readBack(readBack)
    {}

protected:
    void run() override;

private:
    void readingBack(qint64 total);
    void written(std::optional<Error> error);

    OpenDrive &m_drive;
    const QString &m_image;
    Stretch m_readBack;
    bool m_touched = false; // written to by the worker
};
