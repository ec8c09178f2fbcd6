#include "DrivePicker.h"

#include "StageDetail.h"
#include "UDisksDrives.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QRadioButton>

DrivePicker::DrivePicker(UDisksDrives *drives, QWidget *parent)
    : QWidget(parent), m_drives(drives)
{
    m_image = new QRadioButton(tr("New ISO image"));
    m_image->setObjectName(QStringLiteral("imageChoice"));
    m_image->setChecked(true);
    m_drive = new QRadioButton(tr("USB drive"));
    m_drive->setObjectName(QStringLiteral("driveChoice"));
    auto *group = new QButtonGroup(this);
    group->addButton(m_image);
    group->addButton(m_drive);
    m_list = new QComboBox;
    m_list->setObjectName(QStringLiteral("driveList"));
    m_list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_list->setMinimumContentsLength(24);
    m_list->setAccessibleName(tr("USB drive to write"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    row->addWidget(m_image);
    row->addWidget(m_drive);
    row->addWidget(m_list, 1);

    connect(m_drive, &QRadioButton::toggled, this, [this] {
        m_list->setEnabled(m_drive->isChecked() && !m_offered.isEmpty());
        emit choiceChanged();
    });
    connect(m_list, &QComboBox::currentIndexChanged, this, &DrivePicker::choiceChanged);
    if (m_drives)
        connect(m_drives, &UDisksDrives::changed, this, &DrivePicker::showDrives);
    QString why;
    if (!m_drives || !m_drives->refresh(&why)) {
        m_drive->setEnabled(false);
        m_drive->setToolTip(tr("The disk service (UDisks2) does not answer. %1").arg(why));
    }
    showDrives();
}

bool DrivePicker::toDrive() const
{
    return m_drive->isChecked();
}

std::optional<DriveFacts> DrivePicker::chosenDrive() const
{
    const int index = m_list->currentIndex();
    if (!toDrive() || index < 0 || index >= m_offered.size())
        return std::nullopt;
    return m_offered.at(index);
}

QString DrivePicker::describe(const DriveFacts &drive)
{
    return tr("%1 (%2, %3)").arg(drive.name(), drive.device, StageDetail::formatBytes(drive.size));
}

void DrivePicker::showDrives()
{
    // The drive chosen stays chosen while it is there.
    const std::optional<DriveFacts> chosen = chosenDrive();
    const QString kept = chosen ? chosen->objectPath : m_list->currentData().toString();
    m_offered.clear();
    if (m_drives)
        for (const DriveFacts &drive : m_drives->devices())
            if (!DriveRules::refusal(drive, 0, QDir::homePath()))
                m_offered << drive;
    const QSignalBlocker quiet(m_list);
    m_list->clear();
    for (const DriveFacts &drive : m_offered)
        m_list->addItem(describe(drive), drive.objectPath);
    if (m_offered.isEmpty())
        m_list->addItem(tr("No USB drive plugged in"));
    m_list->setCurrentIndex(std::max(0, m_list->findData(kept)));
    m_list->setEnabled(m_drive->isChecked() && !m_offered.isEmpty());
    emit choiceChanged();
}
