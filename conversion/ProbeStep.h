#pragma once

#include "RunValues.h"
#include "ThreadStep.h"

// Before the installer's first byte, the drive is made to show that it holds
// what it claims and takes writes (StickProbe): a counterfeit or faulty
// stick, or one with its write-protect switch on, is refused in seconds
// rather than found out after the long write, or later by its owner.
class ProbeStep : public ThreadStep {
public:
    explicit ProbeStep(OpenDrive &drive) : m_drive(drive) {}

protected:
    void run() override;

private:
    OpenDrive &m_drive;
};
