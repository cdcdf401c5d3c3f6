#include "app/cli/InterruptWatcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Only async-signal-safe work in the handler: one byte into the pipe.
volatile std::sig_atomic_t writeEnd = -1;

void onInterrupt(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
        }
        Q_EMIT interrupted();
    });
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Back to the default after the first one: a second Ctrl+C stops at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &m_previous);
}

InterruptWatcher::~InterruptWatcher()
{
    if (m_pipe[0] < 0)
        return;
    sigaction(SIGINT, &m_previous, nullptr);
    writeEnd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}
