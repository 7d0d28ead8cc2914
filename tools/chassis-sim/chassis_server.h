#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "chassis_messages.h"
#include "chassis_sequences.h"
#include "chassis_simulator.h"
#include "chassis_state.h"
#include "command_responder.h"
#include "link_session.h"
#include "signal_generator.h"

namespace chassis_sim {

class SimClock;

// One simulated chassis: a listener on its address and port, an accept thread, and one
// LinkSession per accepted link. It holds the chassis' state (channel set, closed loop, card
// conditions, running sequences) and fault switches, answers the commands its links decode,
// and keeps the record of the commands they received. The accept thread is also the chassis'
// timer: it applies the sequence steps as they fall due and sends their reports.
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

    // `tick` is where the links that exist at the call start again when the stream goes on.
    void setStreaming(bool on, std::uint64_t tick);
    void setSilent(bool on, std::uint64_t tick);
    // Ends every current link abruptly and waits until they are gone.
    void closeConnections();
    // Queues raw bytes on every current link.
    void enqueue(const std::string& bytes);

    // Change the card's condition and send it in a status message to every link; false, with
    // nothing changed, for a sensor id that is not a card.
    bool setSensorError(std::uint32_t sensorId, std::uint32_t flags);
    bool setSensorField(std::uint32_t sensorId, float x, float y, float z);
    bool setSensorLed(std::uint32_t sensorId, std::uint32_t blinkState, std::uint32_t color);
    // A PROGRESS status to every link; false when it would not fit a frame.
    bool sendProgress(std::uint32_t percent, const std::string& text);

    std::size_t openConnections() const;
    std::size_t acceptedConnections() const { return _accepted.load(); }
    std::vector<ReceivedCommand> receivedCommands() const;

private:
    void acceptLoop();
    void acceptPending();
    void runDueSteps();
    void wakeTimer();
    void reapFinished();
    void record(ReceivedCommand command);
    void wakeAll();
    // Called by link threads for every decoded command; returns the reply for that link.
    std::string answer(const CmdPacket& command);
    // Queues a status frame of `payload` on every link, like injected bytes.
    void sendToAllLocked(const std::string& payload);
    using CardMessage = std::string (ChassisMessages::*)(const ChassisState&, std::uint32_t) const;
    bool changeCard(std::uint32_t sensorId, const std::function<void(SensorCondition&)>& change,
                    CardMessage message);

    SimConfig _config;
    ChassisMessages _messages;
    SignalGenerator _signal;
    ChassisState _state;          // guarded by _mutex
    ChassisSequences _sequences;  // guarded by _mutex
    CommandResponder _responder;  // guarded by _mutex
    LinkSwitches _switches;
    LinkEnvironment _environment;

    int _listenFd = -1;
    int _wakeFd = -1;
    std::thread _thread;
    std::atomic<bool> _running{false};
    std::atomic<std::size_t> _accepted{0};

    // Guards _sessions, _commands, _state, _sequences and _responder. Taken before a session's own
    // lock; never held while a session is joined.
    mutable std::mutex _mutex;
    std::vector<std::unique_ptr<LinkSession>> _sessions;
    std::deque<ReceivedCommand> _commands;
};

}  // namespace chassis_sim
