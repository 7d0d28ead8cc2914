#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "chassis_state.h"

namespace chassis_sim {

// Identity of one simulated chassis and the StatusPacket payloads it sends. Every payload has
// all required fields (chassis_name, type, num_sensors, version, status) set, with the
// chassis' current version and system status.
class ChassisMessages {
public:
    ChassisMessages(const SimConfig& config, std::size_t index);

    // The name the viewer files the chassis under: address + ":" + port.
    const std::string& name() const { return _name; }
    std::uint32_t sensorCount() const { return _sensors; }

    // COMPLETE_SYSTEM_STATUS: system status, chassis status, a sensor status per card and a
    // sensor config per channel, plus each card's state, field and LED entries when the whole
    // message fits a frame. Otherwise those follow as cardReports(), so the list holds the
    // complete status first and then the reports.
    std::vector<std::string> completeStatus(const ChassisState& state) const;
    // Bytes of the complete status without the card extras, taken with the longest version
    // the chassis can report. This is the part that has to fit one frame.
    std::size_t completeStatusCoreSize(const ChassisState& state) const;
    // SENSOR_STATE, SENSOR_FIELD and SENSOR_LED messages with an entry per card, each message
    // holding as many entries as fit a frame.
    std::vector<std::string> cardReports(const ChassisState& state) const;
    // SENSOR_STATE messages for the cards `ids`, in that order, split to fit frames; an entry
    // carries error_flags only while the card has an error.
    std::vector<std::string> sensorStates(const ChassisState& state,
                                          const std::vector<std::uint32_t>& ids) const;

    // STATUS: the required fields and chassis_status.closed_loop.
    std::string status(const ChassisState& state) const;
    // SENSOR_CONFIG: the whole channel set, which replaces what the viewer had.
    std::string sensorConfig(const ChassisState& state) const;
    // SENSOR_STATE, SENSOR_FIELD, SENSOR_LED: one entry for sensor `id`. The state entry always
    // carries error_flags, so a cleared error says 0.
    std::string sensorState(const ChassisState& state, std::uint32_t id) const;
    std::string sensorField(const ChassisState& state, std::uint32_t id) const;
    std::string sensorLed(const ChassisState& state, std::uint32_t id) const;
    // PROGRESS with both progress and progress_msg.
    std::string progress(const ChassisState& state, std::uint32_t percent,
                         const std::string& text) const;

    // Serial number of the chassis at `index`; chassis 0 is the host of the system.
    static std::string serialOf(std::size_t index);

private:
    std::string _name;
    std::size_t _index;
    std::uint32_t _total;
    std::uint32_t _slots;
    std::uint32_t _sensors;
};

// The status frames of `payloads`, in order, as one byte string.
std::string statusFrames(const std::vector<std::string>& payloads);

}  // namespace chassis_sim
