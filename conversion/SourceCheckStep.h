#pragma once

#include "SourceCheck.h"
#include "ThreadStep.h"

// Looks at the mounted source before anything is copied: which Windows image
// it carries, in what shape, and whether the temporary folder and the
// destination can take the conversion. A temporary folder short of room is
// refused with a way on; where another folder of the user's has the room,
// the user may take it for this run. It also clears what runs that died have
// left behind, wherever runs make their directories.
class SourceCheckStep : public ThreadStep {
public:
    SourceCheckStep(SourceCheck::Request request, SourceCheck::Layout &layout,
                    QString &temporaryFolder)
        : m_request(std::move(request)), m_layout(layout), m_temporaryFolder(temporaryFolder)
    {}

protected:
    void run() override;

private:
    struct Found {
        std::variant<SourceCheck::Layout, Error> layout;
        std::optional<SourceCheck::Shortage> shortage;
    };
    void inspected(Found found);
    void settled();

    SourceCheck::Request m_request;
    SourceCheck::Layout &m_layout;
    QString &m_temporaryFolder;
};
