#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "chassis_sequences.h"
#include "chassis_simulator.h"
#include "chassis_state.h"
#include "net-protocol.pb.h"

namespace chassis_sim {

class ChassisMessages;

// What one command leads to.
struct CommandOutcome {
    std::string reply;             // frames for the link that sent the command
    std::string report;            // frames for every link of the chassis
    bool channelsChanged = false;  // the links stream the new channel set after `report`
};

// The chassis' reaction to one decoded command, on the chassis state:
// - COMPLETE_SYSTEM_STATUS_REQ and STATUS_REQ: the status, to the asking link;
// - CONFIG_LIST: the entries change the channel set in order, and every link gets a
//   SENSOR_CONFIG status with the whole new set;
// - CLOSED_LOOP_REQ: the closed-loop state changes, and every link gets a STATUS with it;
// - DEV_MODE_REQ: a CmdPacket reply to the asking link;
// - RAW_CMD writes a card register and ONE_TIME_READ_REQ reads one, each answered with a
//   RAW_CMD_RESP to the asking link;
// - LOGIC_REQ, LOGIC_INTERRUPT_REQ, UPDATE and UPDATE_COMMIT start or change the chassis'
//   sequences, whose reports go to every link.
// Every other command has no effect; the link has logged and recorded it already.
// Not thread-safe: the chassis server calls it under its lock, which guards the state.
class CommandResponder {
public:
    // Registers written beyond this many per chassis are answered but not kept, so a client
    // that writes everywhere cannot exhaust memory.
    static constexpr std::size_t MAX_REGISTERS = 65536;

    CommandResponder(const SimConfig& config, const std::string& address,
                     const ChassisMessages& messages, ChassisState& state,
                     ChassisSequences& sequences);

    CommandOutcome respond(const CmdPacket& command);

private:
    void applyConfigList(const CmdPacket& command, CommandOutcome& outcome);
    // Empty when the channel set `channels` can be served, else why not.
    std::string sizeProblem(const ChannelList& channels) const;
    std::string devModeReply(const CmdPacket& command) const;
    std::string registerReply(const CmdPacket& command);
    std::string sequenceReport(const CmdPacket& command);
    void note(const std::string& line) const;

    const SimConfig& _config;
    std::string _address;
    const ChassisMessages& _messages;
    ChassisState& _state;
    ChassisSequences& _sequences;
    // Written register values by (sensor, register address).
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::uint32_t> _registers;
};

}  // namespace chassis_sim
