#include "shutdown_signal.h"

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <csignal>

namespace chassis_sim {

ShutdownSignal::ShutdownSignal() {
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGINT);
    sigaddset(&wanted, SIGTERM);
    _fd = ::signalfd(-1, &wanted, SFD_NONBLOCK | SFD_CLOEXEC);
}

ShutdownSignal::~ShutdownSignal() {
    if (_fd >= 0) {
        ::close(_fd);
    }
}

int ShutdownSignal::take() {
    signalfd_siginfo info{};
    if (_fd < 0 || ::read(_fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) {
        return 0;
    }
    return static_cast<int>(info.ssi_signo);
}

}  // namespace chassis_sim
