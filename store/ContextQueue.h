#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QThread;

// A serial queue: blocks run one at a time, in the order they were posted. Either the
// main thread's event loop, or a thread of its own that lives as long as the queue.
class ContextQueue
{
public:
    enum class Kind { MainThread, OwnThread };

    ContextQueue(Kind kind, const QString &name);
    ~ContextQueue();
    ContextQueue(const ContextQueue &) = delete;
    ContextQueue &operator=(const ContextQueue &) = delete;

    bool isCurrent() const;
    // Runs the block later on the queue and returns at once.
    void post(std::function<void()> block);
    // Runs the block on the queue and returns when it has run, after every block posted
    // before it. On the queue itself the block runs at once.
    void runAndWait(const std::function<void()> &block);

private:
    QThread *m_thread = nullptr;
    std::unique_ptr<QObject> m_receiver;
};
