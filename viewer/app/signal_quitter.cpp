#include "signal_quitter.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>

#include "log_line.h"

namespace {

// Read by the signal handler, so it must be lock-free.
std::atomic<int> signalWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

SignalQuitter::SignalQuitter(std::initializer_list<int> signalNumbers) {
    int fds[2] = {-1, -1};
    // Non-blocking on both ends: a burst of signals must never block the handler, and a spurious
    // wake-up must never block the GUI thread.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0) {
        errLine("Failed to create signal socket pair");
        return;
    }
    _readFd = fds[0];
    _writeFd = fds[1];
    signalWriteFd.store(_writeFd);

    _notifier = std::make_unique<QSocketNotifier>(_readFd, QSocketNotifier::Read);
    QObject::connect(_notifier.get(), &QSocketNotifier::activated, [this] { onReadable(); });

    for (const int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = &SignalQuitter::handleSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction previous {};
        if (::sigaction(signalNumber, &action, &previous) == 0) {
            _previous.emplace_back(signalNumber, previous);
        }
    }
}

SignalQuitter::~SignalQuitter() {
    for (const auto& [signalNumber, previous] : _previous) {
        ::sigaction(signalNumber, &previous, nullptr);
    }
    signalWriteFd.store(-1);
    _notifier.reset();
    if (_readFd >= 0) {
        ::close(_readFd);
    }
    if (_writeFd >= 0) {
        ::close(_writeFd);
    }
}

void SignalQuitter::handleSignal(int /*signalNumber*/) {
    const int savedErrno = errno;
    const int fd = signalWriteFd.load();
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

void SignalQuitter::onReadable() {
    char bytes[16];
    while (::read(_readFd, bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}
