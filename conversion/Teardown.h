#pragma once

#include <functional>
#include <vector>

// What a run has to undo, each step's own undo registered as it makes
// something (the source attached, the temporary directory, the drive opened,
// a partial image), run last in, first out when the run ends, whichever way.
class Teardown {
public:
    // An undo calls `next` when it is through, now or later on the main thread.
    using Undo = std::function<void(std::function<void()> next)>;

    void push(Undo undo) { m_undos.push_back(std::move(undo)); }
    // Each undo runs once; `then` follows the last of them.
    void run(std::function<void()> then);

private:
    std::vector<Undo> m_undos;
};
