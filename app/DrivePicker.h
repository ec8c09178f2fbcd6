#pragma once

#include "DriveRules.h"

#include <QWidget>
#include <optional>

class QComboBox;
class QLabel;
class QRadioButton;
class UDisksDrives;

// What the conversion makes: a new ISO image (the default) or a USB drive,
// picked from the drives the disk service offers. The list follows drives as
// they are plugged in and pulled out; a drive that may not be written (a
// system disk, a partition, one too small or read-only) is not offered.
class DrivePicker : public QWidget {
    Q_OBJECT
public:
    // `drives` may be null: no disk service, so only new images.
    explicit DrivePicker(UDisksDrives *drives, QWidget *parent = nullptr);

    bool toDrive() const;
    // The drive chosen, as the service last told it; nothing for an image
    // or when no drive is there.
    std::optional<DriveFacts> chosenDrive() const;

    QRadioButton *imageButton() const { return m_image; }
    QRadioButton *driveButton() const { return m_drive; }
    QComboBox *driveList() const { return m_list; }

    // "SanDisk Cruzer Blade (/dev/sdb, 16.0 GB)"
    static QString describe(const DriveFacts &drive);

signals:
    void choiceChanged();

private:
    void showDrives();

    UDisksDrives *m_drives;
    QList<DriveFacts> m_offered;
    QRadioButton *m_image = nullptr;
    QRadioButton *m_drive = nullptr;
    QComboBox *m_list = nullptr;
};
