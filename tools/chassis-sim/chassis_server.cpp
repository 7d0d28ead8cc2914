#include "chassis_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "frame_codec.h"
#include "log_line.h"

namespace chassis_sim {

namespace {

using Clock = ChassisSequences::Clock;

// Longest accept wait; finished links are collected at least this often.
constexpr auto ACCEPT_POLL = std::chrono::milliseconds(100);
constexpr int SEND_BUFFER_BYTES = 64 * 1024;

std::string peerText(const sockaddr_in& peer) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(peer.sin_port));
}

}  // namespace

ChassisServer::ChassisServer(const SimConfig& config, std::size_t index, SSL_CTX* tls,
                             const SimClock& clock)
    : _config(config),
      _messages(config, index),
      _signal(config, static_cast<std::uint32_t>(index)),
      _state(config, static_cast<std::uint32_t>(index)),
      _sequences(_config, config.addresses.at(index), _messages, _state),
      _responder(_config, config.addresses.at(index), _messages, _state, _sequences) {
    _environment.config = &_config;
    _environment.address = config.addresses.at(index);
    _environment.tls = tls;
    _environment.clock = &clock;
    _environment.messages = &_messages;
    _environment.signal = &_signal;
    _environment.switches = &_switches;
    _environment.timestampOffset =
        index < config.timestampOffsets.size() ? config.timestampOffsets[index] : 0;
    _environment.onCommand = [this](ReceivedCommand command) { record(std::move(command)); };
    _environment.answer = [this](const CmdPacket& command) { return answer(command); };
    _wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

ChassisServer::~ChassisServer() {
    stop();
    if (_wakeFd >= 0) {
        ::close(_wakeFd);
    }
}

bool ChassisServer::listen(std::string* error) {
    auto fail = [&](const std::string& what) {
        if (error != nullptr) {
            *error = "cannot " + what + " " + address() + ":" + std::to_string(_config.port) +
                     ": " + std::strerror(errno);
        }
        if (_listenFd >= 0) {
            ::close(_listenFd);
            _listenFd = -1;
        }
        return false;
    };
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(_config.port);
    if (inet_pton(AF_INET, address().c_str(), &local.sin_addr) != 1) {
        errno = EINVAL;
        return fail("parse");
    }
    _listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (_listenFd < 0) {
        return fail("open a socket for");
    }
    const int on = 1;
    if (::setsockopt(_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        return fail("set SO_REUSEADDR on");
    }
    if (::bind(_listenFd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return fail("bind");
    }
    if (::listen(_listenFd, 16) != 0) {
        return fail("listen on");
    }
    return true;
}

void ChassisServer::start() {
    if (_listenFd >= 0 && !_thread.joinable()) {
        _running.store(true);
        _thread = std::thread(&ChassisServer::acceptLoop, this);
    }
}

void ChassisServer::stop() {
    _running.store(false);
    wakeTimer();
    if (_thread.joinable()) {
        _thread.join();
    }
    if (_listenFd >= 0) {
        ::close(_listenFd);
        _listenFd = -1;
    }
    closeConnections();
}

void ChassisServer::wakeTimer() {
    if (_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(_wakeFd, &one, sizeof one);
    }
}

void ChassisServer::acceptLoop() {
    while (_running.load()) {
        auto deadline = Clock::now() + ACCEPT_POLL;
        {
            std::lock_guard<std::mutex> lock(_mutex);
            if (const auto due = _sequences.nextDue(); due && *due < deadline) {
                deadline = *due;
            }
        }
        const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
        const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec timeout{static_cast<time_t>(nanos / 1000000000),
                               static_cast<long>(nanos % 1000000000)};
        pollfd fds[2] = {{_listenFd, POLLIN, 0}, {_wakeFd, POLLIN, 0}};
        if (::ppoll(fds, 2, &timeout, nullptr) > 0) {
            if ((fds[1].revents & POLLIN) != 0) {
                std::uint64_t count = 0;
                [[maybe_unused]] auto n = ::read(_wakeFd, &count, sizeof count);
            }
            if ((fds[0].revents & POLLIN) != 0) {
                acceptPending();
            }
        }
        runDueSteps();
        reapFinished();
    }
}

void ChassisServer::runDueSteps() {
    std::lock_guard<std::mutex> lock(_mutex);
    const std::string frames = _sequences.advance(Clock::now());
    // Step reports are replies to the command that started them: a silent chassis drops them.
    if (frames.empty() || _switches.silent.load()) {
        return;
    }
    for (auto& session : _sessions) {
        session->enqueue(frames);
    }
}

void ChassisServer::acceptPending() {
    for (;;) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(_listenFd, reinterpret_cast<sockaddr*>(&peer), &length,
                                 SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;  // nothing more pending, or a transient error the next poll retries
        }
        _accepted.fetch_add(1);
        const int on = 1;
        // One small packet per millisecond: do not hold them back.
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        // A fixed, modest kernel buffer: a reader that falls behind is then held back by the
        // link's own bounded backlog instead of megabytes of autotuned socket buffer.
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SEND_BUFFER_BYTES, sizeof SEND_BUFFER_BYTES);
        if (openConnections() >= MAX_LINKS) {
            errLine(address() + ": too many links, closing the one from " + peerText(peer));
            ::close(fd);
            continue;
        }
        // Made under the lock, so the link either starts with the newest channel set or is
        // listed in time to be told of a change.
        std::lock_guard<std::mutex> lock(_mutex);
        auto session =
            std::make_unique<LinkSession>(_environment, fd, peerText(peer), *_state.channels());
        session->start();
        _sessions.push_back(std::move(session));
    }
}

void ChassisServer::reapFinished() {
    std::vector<std::unique_ptr<LinkSession>> finished;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        auto firstFinished = std::stable_partition(_sessions.begin(), _sessions.end(),
                                                   [](const auto& s) { return !s->finished(); });
        std::move(firstFinished, _sessions.end(), std::back_inserter(finished));
        _sessions.erase(firstFinished, _sessions.end());
    }
    // Destroyed (joined) outside the lock.
}

void ChassisServer::closeConnections() {
    std::vector<std::unique_ptr<LinkSession>> closing;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        closing.swap(_sessions);
    }
    for (auto& session : closing) {
        session->stop();
    }
}

void ChassisServer::wakeAll() {
    std::lock_guard<std::mutex> lock(_mutex);
    for (auto& session : _sessions) {
        session->wake();
    }
}

void ChassisServer::setStreaming(bool on, std::uint64_t tick) {
    if (on) {
        _switches.resumeTick.store(tick);  // before the switch, so a link never reads it stale
    }
    _switches.streaming.store(on);
    wakeAll();
}

void ChassisServer::setSilent(bool on, std::uint64_t tick) {
    if (!on) {
        _switches.resumeTick.store(tick);
    }
    _switches.silent.store(on);
    wakeAll();
}

void ChassisServer::enqueue(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(_mutex);
    for (auto& session : _sessions) {
        session->enqueue(bytes);
    }
}

std::string ChassisServer::answer(const CmdPacket& command) {
    std::lock_guard<std::mutex> lock(_mutex);
    const auto dueBefore = _sequences.nextDue();
    CommandOutcome outcome = _responder.respond(command);
    if (_sequences.nextDue() != dueBefore) {
        wakeTimer();  // the timer's wait was set for the old schedule
    }
    if (!outcome.report.empty() || outcome.channelsChanged) {
        // Reports are replies: a silent chassis drops them, but its links still switch sets.
        const std::string report = _switches.silent.load() ? std::string() : outcome.report;
        const auto channels = outcome.channelsChanged ? _state.channels() : nullptr;
        for (auto& session : _sessions) {
            session->enqueue(report, channels);
        }
    }
    return outcome.reply;
}

void ChassisServer::sendToAllLocked(const std::string& payload) {
    std::string bytes;
    appendFrame(bytes, STATUS_PACKET, payload);
    for (auto& session : _sessions) {
        session->enqueue(bytes);
    }
}

bool ChassisServer::changeCard(std::uint32_t sensorId,
                               const std::function<void(SensorCondition&)>& change,
                               CardMessage message) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (!_state.hasSensor(sensorId)) {
        return false;
    }
    // The complete status stays within a frame whatever the card reports: what does not fit
    // it is sent in messages of its own.
    change(_state.sensor(sensorId));
    sendToAllLocked((_messages.*message)(_state, sensorId));
    return true;
}

bool ChassisServer::setSensorError(std::uint32_t sensorId, std::uint32_t flags) {
    return changeCard(
        sensorId, [flags](SensorCondition& card) { card.errorFlags = flags; },
        &ChassisMessages::sensorState);
}

bool ChassisServer::setSensorField(std::uint32_t sensorId, float x, float y, float z) {
    return changeCard(
        sensorId,
        [x, y, z](SensorCondition& card) {
            card.fieldX = x;
            card.fieldY = y;
            card.fieldZ = z;
        },
        &ChassisMessages::sensorField);
}

bool ChassisServer::setSensorLed(std::uint32_t sensorId, std::uint32_t blinkState,
                                 std::uint32_t color) {
    return changeCard(
        sensorId,
        [blinkState, color](SensorCondition& card) {
            card.ledBlinkState = blinkState;
            card.ledColor = color;
        },
        &ChassisMessages::sensorLed);
}

bool ChassisServer::sendProgress(std::uint32_t percent, const std::string& text) {
    std::lock_guard<std::mutex> lock(_mutex);
    const std::string payload = _messages.progress(_state, percent, text);
    if (payload.size() > MAX_RECEIVE_PAYLOAD) {
        return false;
    }
    sendToAllLocked(payload);
    return true;
}

std::size_t ChassisServer::openConnections() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return static_cast<std::size_t>(std::count_if(_sessions.begin(), _sessions.end(),
                                                  [](const auto& s) { return !s->finished(); }));
}

std::vector<ReceivedCommand> ChassisServer::receivedCommands() const {
    std::lock_guard<std::mutex> lock(_mutex);
    return {_commands.begin(), _commands.end()};
}

void ChassisServer::record(ReceivedCommand command) {
    std::lock_guard<std::mutex> lock(_mutex);
    _commands.push_back(std::move(command));
    if (_commands.size() > MAX_RECORDS) {
        _commands.pop_front();
    }
}

}  // namespace chassis_sim
