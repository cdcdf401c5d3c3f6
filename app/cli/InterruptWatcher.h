#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns the first Ctrl+C (SIGINT) into a signal on the main thread, so that a long
// command can stop cleanly. A second Ctrl+C ends the process as usual. One at a time.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

Q_SIGNALS:
    void interrupted();

private:
    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    struct sigaction m_previous {};
};
