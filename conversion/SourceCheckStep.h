#pragma once

#include "SourceCheck.h"
#include "ThreadStep.h"

// Looks at the mounted source before anything is copied: which Windows image
// it carries, in what shape, and whether the temporary folder and the
// destination can take the conversion. It also clears what runs that died
// have left behind.
class SourceCheckStep : public ThreadStep {
public:
    SourceCheckStep(SourceCheck::Request request, SourceCheck::Layout &layout)
        : m_request(std::move(request)), m_layout(layout)
    {}

protected:
    void run() override;

private:
    void inspected(std::variant<SourceCheck::Layout, Error> result);

    SourceCheck::Request m_request;
    SourceCheck::Layout &m_layout;
};
