#include "app/TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array caughtSignals{SIGTERM, SIGINT, SIGHUP};

// A handler may only do async-signal-safe work: it writes the signal's number to a pipe
// that the event loop watches.
int writeEnd = -1;

void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

TerminationSignals::TerminationSignals(QObject *parent)
    : QObject(parent)
{
    int fds[2];
    if (writeEnd != -1 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    writeEnd = fds[1];
    m_notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::readSignal);

    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : caughtSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationSignals::~TerminationSignals()
{
    if (!m_notifier)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : caughtSignals)
        ::sigaction(signalNumber, &action, nullptr);
    ::close(writeEnd);
    writeEnd = -1;
    ::close(int(m_notifier->socket()));
}

void TerminationSignals::readSignal()
{
    unsigned char byte = 0;
    while (::read(int(m_notifier->socket()), &byte, 1) == 1)
        Q_EMIT received(int(byte));
}
