#include "Teardown.h"

void Teardown::run(std::function<void()> then)
{
    if (m_undos.empty()) {
        then();
        return;
    }
    Undo undo = std::move(m_undos.back());
    m_undos.pop_back();
    undo([this, then = std::move(then)]() mutable { run(std::move(then)); });
}
