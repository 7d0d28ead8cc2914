#pragma once

#include <cstdint>
#include <string>

#include "chassis_simulator.h"
#include "chassis_state.h"
#include "net-protocol.pb.h"

namespace chassis_sim {

class SignalGenerator;

// Builds the DataPacket frames of one link. The packet message is built once with a frame per
// channel, in channel-set order; each tick only rewrites the timestamp and the values, so no
// per-packet allocation is needed once the buffers are warm.
class DataPacketEncoder {
public:
    DataPacketEncoder(const std::string& chassisName, std::uint32_t numSensors,
                      const SignalGenerator& signal, const ChannelList& channels);

    // From the next frame on, one DataFrame per entry of `channels`.
    void setChannels(const ChannelList& channels);
    // Appends the complete type-3 frame of the packet stamped `timestamp` to `out`.
    void appendFrame(std::string& out, std::uint32_t timestamp);

    // Worst-case payload bytes of a packet of this shape: the largest timestamp and every
    // value negative (ten-byte varints).
    static std::size_t worstCaseSize(std::size_t nameLength, std::uint32_t numSensors,
                                     const ChannelList& channels);

private:
    const SignalGenerator& _signal;
    DataPacket _packet;
    std::string _payload;
};

}  // namespace chassis_sim
