#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "net-protocol.pb.h"

namespace chassis_sim {

// One streamed channel: a data type of a sensor and the rate reported for it.
struct SimChannel {
    std::uint32_t sensor = 0;
    std::uint32_t datatype = 0;
    std::uint32_t freq = 0;
    bool operator==(const SimChannel&) const = default;
};

using ChannelList = std::vector<SimChannel>;

// What a card reports besides its channels.
struct SensorCondition {
    std::uint32_t errorFlags = 0;  // 0: no error
    float fieldX = 0.0f;           // residual field components, nT
    float fieldY = 0.0f;
    float fieldZ = 0.0f;
    std::uint32_t ledBlinkState = 0;
    std::uint32_t ledColor = 0;
    // Where logic commands have brought the card; READY at start.
    SensorState::EnumStateType state = SensorState::READY;
};

// The state a card reports: a raised error shows as ERROR where the card would be READY; the
// steps of a logic sequence show as they are, the error travelling in the entry's flags.
SensorState::EnumStateType reportedState(const SensorCondition& card);

// The changeable side of one chassis, shared by all its links: the channel set, the
// closed-loop state, the system status and version, and the condition of each card. Not
// thread-safe; the chassis server guards it with its lock.
class ChassisState {
public:
    static constexpr const char* INITIAL_VERSION = "1.4.2-sim";
    // What a committed update reports; the longest version a chassis can report.
    static constexpr const char* UPDATED_VERSION = "1.4.2-sim-updated";
    static constexpr std::uint32_t DEFAULT_RATE = 1000;
    static constexpr std::uint32_t DEFAULT_LED_BLINK = 0;  // steady
    static constexpr std::uint32_t DEFAULT_LED_COLOR = 1;

    // Every card starts with every configured data type at 1000 Hz, no error, a steady LED of
    // colour 1 and a residual field of a few tenths of a nanotesla, fixed per card.
    ChassisState(const SimConfig& config, std::uint32_t chassisIndex);

    // The configured channels of every card: sensors ascending, each sensor's data types in
    // the configured order.
    static ChannelList initialChannels(const SimConfig& config);

    // `channels` with one CONFIG_LIST entry applied: freq 0 removes (sensor, datatype) when
    // present; otherwise it updates the rate in place, or adds the channel after the sensor's
    // other channels, keeping sensors ascending.
    static ChannelList withEntry(const ChannelList& channels, const SimChannel& entry);

    // In stream order. Shared, so a link can keep the set it streams without copying it.
    const std::shared_ptr<const ChannelList>& channels() const { return _channels; }
    void setChannels(ChannelList channels);

    bool closedLoop() const { return _closedLoop; }
    void setClosedLoop(bool on) { _closedLoop = on; }

    StatusPacket::EnumSystemStatus systemStatus() const { return _systemStatus; }
    void setSystemStatus(StatusPacket::EnumSystemStatus status) { _systemStatus = status; }
    const std::string& version() const { return _version; }
    void setVersion(std::string version) { _version = std::move(version); }

    // Cards sit in slots 1 .. sensorCount(); the slot number is the sensor id.
    std::uint32_t sensorCount() const { return static_cast<std::uint32_t>(_sensors.size()); }
    bool hasSensor(std::uint32_t id) const { return id >= 1 && id <= _sensors.size(); }
    // Valid for hasSensor(id) only.
    SensorCondition& sensor(std::uint32_t id) { return _sensors[id - 1]; }
    const SensorCondition& sensor(std::uint32_t id) const { return _sensors[id - 1]; }

private:
    std::shared_ptr<const ChannelList> _channels;
    bool _closedLoop = false;
    StatusPacket::EnumSystemStatus _systemStatus = StatusPacket::RUNNING;
    std::string _version = INITIAL_VERSION;
    std::vector<SensorCondition> _sensors;  // sensor s at index s - 1
};

}  // namespace chassis_sim
