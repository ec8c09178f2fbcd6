#pragma once

#include "FileSystem.h"
#include "Step.h"

#include <optional>

// Only a complete image from verified pieces takes the destination's place,
// in one step; a file that appeared there meanwhile is never replaced unasked.
class PublishStep : public Step {
public:
    struct Replacing {
        // The file the user agreed to replace, or anything (--force).
        std::optional<FileSystem::FileIdentity> file;
        bool anything = false;
    };
    PublishStep(const QString &built, QString destination, Replacing replacing)
        : m_built(built), m_destination(std::move(destination)), m_replacing(replacing)
    {}

protected:
    void run() override;

private:
    const QString &m_built;
    QString m_destination;
    Replacing m_replacing;
};
