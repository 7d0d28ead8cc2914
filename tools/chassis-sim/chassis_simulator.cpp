#include "chassis_simulator.h"

#include <mutex>

#include "chassis_server.h"
#include "config_check.h"
#include "frame_codec.h"
#include "server_tls_context.h"
#include "sim_clock.h"

namespace chassis_sim {

namespace {

using ServerList = std::vector<std::shared_ptr<ChassisServer>>;

// Payload of the malformed frame: field 1 as a varint whose continuation bit never ends, so
// the bytes do not decode as a DataPacket at all, not even partially.
constexpr char MALFORMED_PAYLOAD[] = {'\x08', '\xff', '\xff', '\xff'};

}  // namespace

struct ChassisSimulator::Impl {
    explicit Impl(SimConfig c) : config(std::move(c)) {}

    // The servers an address selects: all for an empty address, else the one with it.
    ServerList select(const std::string& address) const {
        std::lock_guard<std::mutex> lock(mutex);
        if (address.empty()) {
            return servers;
        }
        ServerList chosen;
        for (const auto& server : servers) {
            if (server->address() == address) {
                chosen.push_back(server);
            }
        }
        return chosen;
    }

    const SimConfig config;
    SimClock clock;
    ServerTlsContext tls;
    // Guards servers and running (the list, not the servers: each guards itself). Operations
    // take a copy of the list and work outside the lock, so no thread is joined while it is
    // held. Stopped servers stay listed until the next start, so what they observed can still
    // be read.
    mutable std::mutex mutex;
    ServerList servers;
    bool running = false;
};

ChassisSimulator::ChassisSimulator(SimConfig config)
    : _impl(std::make_unique<Impl>(std::move(config))) {}

ChassisSimulator::~ChassisSimulator() {
    stop();
}

bool ChassisSimulator::start(std::string* error) {
    auto fail = [error](const std::string& reason) {
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    };
    ServerList previous;  // stopped servers of an earlier run, released after the lock
    std::lock_guard<std::mutex> lock(_impl->mutex);
    if (_impl->running) {
        return fail("the simulator is already running");
    }
    const std::string problem = checkConfig(_impl->config);
    if (!problem.empty()) {
        return fail(problem);
    }
    std::string reason;
    if (!_impl->tls.create(&reason)) {
        return fail(reason);
    }
    ServerList servers;
    for (std::size_t index = 0; index < _impl->config.addresses.size(); ++index) {
        auto server =
            std::make_shared<ChassisServer>(_impl->config, index, _impl->tls.get(), _impl->clock);
        if (!server->listen(&reason)) {
            return fail(reason);  // listeners bound so far close with `servers`
        }
        servers.push_back(std::move(server));
    }
    _impl->clock.restart();
    for (const auto& server : servers) {
        server->start();
    }
    previous.swap(_impl->servers);
    _impl->servers = std::move(servers);
    _impl->running = true;
    return true;
}

void ChassisSimulator::stop() {
    ServerList servers;
    {
        std::lock_guard<std::mutex> lock(_impl->mutex);
        _impl->running = false;
        servers = _impl->servers;
    }
    for (const auto& server : servers) {
        server->stop();
    }
}

void ChassisSimulator::setStreaming(bool on, const std::string& address) {
    const std::uint64_t tick = _impl->clock.tickAt(SimClock::Clock::now());
    for (const auto& server : _impl->select(address)) {
        server->setStreaming(on, tick);
    }
}

void ChassisSimulator::setSilent(bool on, const std::string& address) {
    const std::uint64_t tick = _impl->clock.tickAt(SimClock::Clock::now());
    for (const auto& server : _impl->select(address)) {
        server->setSilent(on, tick);
    }
}

void ChassisSimulator::closeConnections(const std::string& address) {
    for (const auto& server : _impl->select(address)) {
        server->closeConnections();
    }
}

void ChassisSimulator::sendMalformed(const std::string& address) {
    std::string frame;
    appendFrame(frame, DATA_PACKET, std::string_view(MALFORMED_PAYLOAD, sizeof MALFORMED_PAYLOAD));
    injectBytes(frame, address);
}

void ChassisSimulator::sendOversized(std::uint16_t announced, const std::string& address) {
    std::string frame(FRAME_HEADER_SIZE, '\0');
    writeFrameHeader(reinterpret_cast<std::uint8_t*>(frame.data()), DATA_PACKET, announced);
    frame.append(announced, '\0');
    injectBytes(frame, address);
}

void ChassisSimulator::injectBytes(const std::string& bytes, const std::string& address) {
    if (bytes.empty()) {
        return;
    }
    for (const auto& server : _impl->select(address)) {
        server->enqueue(bytes);
    }
}

bool ChassisSimulator::setSensorError(std::uint32_t sensorId, std::uint32_t flags,
                                      const std::string& address) {
    bool sent = false;
    for (const auto& server : _impl->select(address)) {
        sent = server->setSensorError(sensorId, flags) || sent;
    }
    return sent;
}

bool ChassisSimulator::setSensorField(std::uint32_t sensorId, float x, float y, float z,
                                      const std::string& address) {
    bool sent = false;
    for (const auto& server : _impl->select(address)) {
        sent = server->setSensorField(sensorId, x, y, z) || sent;
    }
    return sent;
}

bool ChassisSimulator::setSensorLed(std::uint32_t sensorId, std::uint32_t blinkState,
                                    std::uint32_t color, const std::string& address) {
    bool sent = false;
    for (const auto& server : _impl->select(address)) {
        sent = server->setSensorLed(sensorId, blinkState, color) || sent;
    }
    return sent;
}

bool ChassisSimulator::sendProgress(std::uint32_t progress, const std::string& message,
                                    const std::string& address) {
    bool sent = false;
    for (const auto& server : _impl->select(address)) {
        sent = server->sendProgress(progress, message) || sent;
    }
    return sent;
}

std::size_t ChassisSimulator::openConnections(const std::string& address) const {
    std::size_t count = 0;
    for (const auto& server : _impl->select(address)) {
        count += server->openConnections();
    }
    return count;
}

std::size_t ChassisSimulator::acceptedConnections(const std::string& address) const {
    std::size_t count = 0;
    for (const auto& server : _impl->select(address)) {
        count += server->acceptedConnections();
    }
    return count;
}

std::vector<ReceivedCommand> ChassisSimulator::receivedCommands(const std::string& address) const {
    std::vector<ReceivedCommand> all;
    for (const auto& server : _impl->select(address)) {
        auto some = server->receivedCommands();
        all.insert(all.end(), std::make_move_iterator(some.begin()),
                   std::make_move_iterator(some.end()));
    }
    return all;
}

std::uint32_t ChassisSimulator::currentTimestamp() const {
    return _impl->clock.currentTimestamp();
}

std::int64_t ChassisSimulator::epochUnixMs() const {
    return _impl->clock.epochUnixMs();
}

}  // namespace chassis_sim
