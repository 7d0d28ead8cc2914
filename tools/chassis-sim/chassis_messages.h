#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "chassis_simulator.h"
#include "chassis_state.h"

namespace chassis_sim {

// Identity of one simulated chassis and the StatusPacket payloads it sends. Every payload has
// all required fields (chassis_name, type, num_sensors, version, status) set.
class ChassisMessages {
public:
    ChassisMessages(const SimConfig& config, std::size_t index);

    // The name the viewer files the chassis under: address + ":" + port.
    const std::string& name() const { return _name; }
    std::uint32_t sensorCount() const { return _sensors; }

    // COMPLETE_SYSTEM_STATUS: system status, chassis status, and per card its sensor status,
    // state, field and LED entries, then one sensor config per channel.
    std::string completeStatus(const ChassisState& state) const;
    // STATUS: the required fields and chassis_status.closed_loop.
    std::string status(const ChassisState& state) const;
    // SENSOR_CONFIG: the whole channel set, which replaces what the viewer had.
    std::string sensorConfig(const ChassisState& state) const;
    // SENSOR_STATE, SENSOR_FIELD, SENSOR_LED: one entry for sensor `id`.
    std::string sensorState(const ChassisState& state, std::uint32_t id) const;
    std::string sensorField(const ChassisState& state, std::uint32_t id) const;
    std::string sensorLed(const ChassisState& state, std::uint32_t id) const;
    // PROGRESS with both progress and progress_msg.
    std::string progress(std::uint32_t percent, const std::string& text) const;

    // Serial number of the chassis at `index`; chassis 0 is the host of the system.
    static std::string serialOf(std::size_t index);

private:
    std::string _name;
    std::size_t _index;
    std::uint32_t _total;
    std::uint32_t _slots;
    std::uint32_t _sensors;
};

}  // namespace chassis_sim
