#pragma once

#include <QMutex>
#include <QMutexLocker>

// Set on the main thread, read by the import's worker between rows: the one piece of
// state the two share. Each access takes the lock for just that access.
class CancelFlag
{
public:
    bool value() const
    {
        const QMutexLocker locker(&m_lock);
        return m_value;
    }
    void setValue(bool value)
    {
        const QMutexLocker locker(&m_lock);
        m_value = value;
    }

private:
    mutable QMutex m_lock;
    bool m_value = false;
};
