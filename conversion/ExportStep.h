#pragma once

#include "ThreadStep.h"

// A solid install.wim or an install.esd cannot be split as it is: every
// edition is exported, straight from the mount, into a plain install.wim that
// the split then takes as it would take the original.
class ExportStep : public ThreadStep {
public:
    // `openUp`, when given, is made writable first (a staging copy keeps the
    // disc's read-only modes, and the export writes beside them).
    ExportStep(QString image, QString destination, QString openUp = QString())
        : m_image(std::move(image)), m_destination(std::move(destination)),
          m_openUp(std::move(openUp))
    {}

protected:
    void run() override;

private:
    QString m_image;
    QString m_destination;
    QString m_openUp;
};
