#pragma once

#include <cstdint>
#include <string>

#include "chassis_simulator.h"
#include "net-protocol.pb.h"

namespace chassis_sim {

class SignalGenerator;

// Builds the DataPacket frames of one link. The packet message is built once with a frame per
// channel (sensor order, then data types in configured order); each tick only rewrites the
// timestamp and the values, so no per-packet allocation is needed once the buffers are warm.
class DataPacketEncoder {
public:
    DataPacketEncoder(const SimConfig& config, const std::string& chassisName,
                      const SignalGenerator& signal);

    // Appends the complete type-3 frame of the packet stamped `timestamp` to `out`.
    void appendFrame(std::string& out, std::uint32_t timestamp);

private:
    const SignalGenerator& _signal;
    DataPacket _packet;
    std::string _payload;
};

}  // namespace chassis_sim
