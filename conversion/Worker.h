#pragma once

#include <QMetaObject>
#include <QObject>
#include <thread>

// One blocking job at a time on a thread of its own, its result handed back
// to the thread that owns the worker. The worker is not gone before its
// thread is: whoever owns it makes sure the job stops soon once asked.
class Worker : public QObject {
public:
    ~Worker() override { join(); }

    // Runs `work` on the thread, then `then` with its result here.
    template <typename Work, typename Then> void run(Work work, Then then);

private:
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    std::thread m_thread;
};

template <typename Work, typename Then> void Worker::run(Work work, Then then)
{
    join();
    m_thread = std::thread([this, work = std::move(work), then = std::move(then)]() mutable {
        auto result = work();
        QMetaObject::invokeMethod(
            this,
            [this, then = std::move(then), result = std::move(result)]() mutable {
                join();
                then(std::move(result));
            },
            Qt::QueuedConnection);
    });
}
