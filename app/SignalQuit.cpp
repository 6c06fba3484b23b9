#include "SignalQuit.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The handler may only do async-signal-safe work: it writes one byte that
// the event loop reads.
int signalSockets[2] = {-1, -1};
constexpr int quitSignals[] = {SIGTERM, SIGINT};

extern "C" void onQuitSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSockets[0], &byte, 1);
    errno = savedErrno;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : quitSignals)
        ::sigaction(signal, &action, nullptr);
}

} // namespace

SignalQuit::SignalQuit(QObject *parent) : QObject(parent)
{
    // Without the socket pair the signals keep their default effect.
    if (signalSockets[0] != -1
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, signalSockets) != 0)
        return;
    m_notifier = new QSocketNotifier(signalSockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalQuit::drain);
    setHandler(onQuitSignal);
}

SignalQuit::~SignalQuit()
{
    if (!m_notifier)
        return;
    setHandler(SIG_DFL);
    delete m_notifier;
    for (int &socket : signalSockets) {
        ::close(socket);
        socket = -1;
    }
}

void SignalQuit::drain()
{
    char bytes[64];
    while (::read(signalSockets[1], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}
