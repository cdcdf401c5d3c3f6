#include "store/ContextQueue.h"

#include <QCoreApplication>
#include <QThread>

ContextQueue::ContextQueue(Kind kind, const QString &name)
    : m_receiver(std::make_unique<QObject>())
{
    if (kind == Kind::OwnThread) {
        m_thread = new QThread;
        m_thread->setObjectName(name);
        m_receiver->moveToThread(m_thread);
        m_thread->start();
    }
}

ContextQueue::~ContextQueue()
{
    if (!m_thread)
        return;
    if (isCurrent()) {
        // The last owner let go from inside a block: the thread cannot wait for itself,
        // so it ends after this block and cleans up after itself.
        QObject::connect(m_thread, &QThread::finished, m_thread, &QObject::deleteLater);
        m_receiver.release()->deleteLater();
        m_thread->quit();
        return;
    }
    // Let what was posted finish, then stop the thread; the receiver dies after it.
    runAndWait([] { });
    m_thread->quit();
    m_thread->wait();
    m_receiver.reset();
    delete m_thread;
}

bool ContextQueue::isCurrent() const
{
    return QThread::currentThread() == m_receiver->thread();
}

void ContextQueue::post(std::function<void()> block)
{
    QMetaObject::invokeMethod(m_receiver.get(), std::move(block), Qt::QueuedConnection);
}

void ContextQueue::runAndWait(const std::function<void()> &block)
{
    if (isCurrent()) {
        block();
        return;
    }
    QMetaObject::invokeMethod(m_receiver.get(), block, Qt::BlockingQueuedConnection);
}
