#pragma once

#include <cstddef>
#include <string>

#include "chassis_simulator.h"

namespace chassis_sim {

// Identity of one simulated chassis and its two status answers. Nothing in them changes while
// the simulator runs, so the payloads are serialized once and shared by every link.
class ChassisMessages {
public:
    ChassisMessages(const SimConfig& config, std::size_t index);

    // The name the viewer files the chassis under: address + ":" + port.
    const std::string& name() const { return _name; }
    // Serialized StatusPacket of type COMPLETE_SYSTEM_STATUS: system status, one sensor status
    // per card and one sensor config per channel.
    const std::string& completeStatusPayload() const { return _completeStatus; }
    // Serialized StatusPacket of type STATUS with just the required fields.
    const std::string& statusPayload() const { return _status; }

    // Serial number of the chassis at `index`; chassis 0 is the host of the system.
    static std::string serialOf(std::size_t index);

private:
    std::string _name;
    std::string _completeStatus;
    std::string _status;
};

}  // namespace chassis_sim
