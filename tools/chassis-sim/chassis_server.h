#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chassis_messages.h"
#include "chassis_simulator.h"
#include "link_session.h"
#include "signal_generator.h"

namespace chassis_sim {

class SimClock;

// One simulated chassis: a listener on its address and port, an accept thread, and one
// LinkSession per accepted link. It holds the chassis' fault switches and the record of the
// commands its links received.
class ChassisServer {
public:
    // Links beyond this many at once are closed right after accept.
    static constexpr std::size_t MAX_LINKS = 64;
    // Oldest records are dropped beyond this many, so a flooding client cannot exhaust memory.
    static constexpr std::size_t MAX_RECORDS = 10000;

    ChassisServer(const SimConfig& config, std::size_t index, SSL_CTX* tls, const SimClock& clock);
    ~ChassisServer();
    ChassisServer(const ChassisServer&) = delete;
    ChassisServer& operator=(const ChassisServer&) = delete;

    const std::string& address() const { return _environment.address; }

    // Binds and listens. On failure returns false with the reason in `error`.
    bool listen(std::string* error);
    void start();
    // Stops accepting, ends every link and joins all threads. Idempotent.
    void stop();

    void setStreaming(bool on);
    void setSilent(bool on);
    // Ends every current link abruptly and waits until they are gone.
    void closeConnections();
    // Queues raw bytes on every current link.
    void enqueue(const std::string& bytes);

    std::size_t openConnections() const;
    std::size_t acceptedConnections() const { return _accepted.load(); }
    std::vector<ReceivedCommand> receivedCommands() const;

private:
    void acceptLoop();
    void acceptPending();
    void reapFinished();
    void record(ReceivedCommand command);
    void wakeAll();

    SimConfig _config;
    ChassisMessages _messages;
    SignalGenerator _signal;
    LinkSwitches _switches;
    LinkEnvironment _environment;

    int _listenFd = -1;
    int _wakeFd = -1;
    std::thread _thread;
    std::atomic<bool> _running{false};
    std::atomic<std::size_t> _accepted{0};

    // Guards _sessions and _commands. Taken before a session's own lock; never held while a
    // session is joined.
    mutable std::mutex _mutex;
    std::vector<std::unique_ptr<LinkSession>> _sessions;
    std::deque<ReceivedCommand> _commands;
};

}  // namespace chassis_sim
