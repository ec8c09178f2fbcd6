#include "ThreadStep.h"

void ThreadStep::run()
{
    inBackground([this] { return m_work([this] { return keepGoing(); }); },
                 [this](std::optional<Error> error) { finish(error); });
}
