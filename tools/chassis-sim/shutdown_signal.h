#pragma once

namespace chassis_sim {

// SIGINT and SIGTERM delivered as readable data on a descriptor (signalfd), so shutdown runs
// as ordinary code in the main loop instead of inside a handler. Construct it before any
// thread starts: the blocked signal mask (which also blocks SIGPIPE, so a vanished client only
// costs its link) is inherited by every thread made afterwards.
class ShutdownSignal {
public:
    ShutdownSignal();
    ~ShutdownSignal();
    ShutdownSignal(const ShutdownSignal&) = delete;
    ShutdownSignal& operator=(const ShutdownSignal&) = delete;

    // Readable once a signal is pending; -1 when the descriptor could not be made.
    int fd() const { return _fd; }
    // Consumes one pending signal and returns its number, or 0 when none is pending.
    int take();

private:
    int _fd = -1;
};

}  // namespace chassis_sim
