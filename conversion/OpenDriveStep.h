#pragma once

#include "RunValues.h"
#include "Step.h"

// The drive confirmed by the user, checked again (it may have been swapped
// since, or be too small for this source) and opened through the disk
// service, its file systems unmounted first. It is opened right after the
// inspection, so that polkit asks (if it asks) before the long part of the run.
class OpenDriveStep : public Step {
public:
    struct Input {
        DriveFacts chosen;
        qint64 content = 0; // what the installer holds
        QString sourceImage;
        QString temporaryFolder;
    };
    OpenDriveStep(Input input, OpenDrive &drive) : m_input(std::move(input)), m_drive(drive) {}

    // The drive checked is gone, or another took its place.
    static Error gone(const DriveFacts &drive);
    // What a drive whose tables are gone is left as.
    static QString leftWithoutTable(const DriveFacts &drive);

protected:
    void run() override;
    void stop() override;

private:
    std::optional<Error> check(const DriveFacts &now) const;
    void opened(int fd, const QString &error);

    Input m_input;
    OpenDrive &m_drive;
    std::shared_ptr<UDisksDrives> m_service;
};
