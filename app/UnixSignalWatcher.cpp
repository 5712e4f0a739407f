#include "app/UnixSignalWatcher.h"

#include "model/Log.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

extern "C" void forwardSignal(int signal)
{
    const unsigned char number = static_cast<unsigned char>(signal);
    const int saved = errno;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &number, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent)
    : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        qCWarning(lcOrvale, "signals are not watched: no socket pair");
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(pipeEnds[1], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readPending(); });
    struct sigaction action = {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : numbers) {
        ::sigaction(signal, &action, nullptr);
        m_signals.append(signal);
    }
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    for (int signal : std::as_const(m_signals))
        ::signal(signal, SIG_DFL);
    m_notifier.reset(); // before the socket it watches is closed
    for (int &end : pipeEnds) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
}

void UnixSignalWatcher::readPending()
{
    unsigned char number = 0;
    while (::read(pipeEnds[1], &number, 1) == 1)
        Q_EMIT signalReceived(number);
}
