#include "command_responder.h"

#include <limits>

#include "chassis_messages.h"
#include "data_packet_encoder.h"
#include "frame_codec.h"
#include "log_line.h"

namespace chassis_sim {

namespace {

std::string frame(MessageType type, const std::string& payload) {
    std::string bytes;
    appendFrame(bytes, type, payload);
    return bytes;
}

std::string channelText(const SimChannel& channel) {
    return "sensor " + std::to_string(channel.sensor) + " data type " +
           std::to_string(channel.datatype) + " at " + std::to_string(channel.freq) + " Hz";
}

}  // namespace

std::uint32_t registerReadValue(std::uint32_t sensor, std::uint32_t registerAddress) {
    return ((sensor & 0xFFFFu) << 16) | (registerAddress & 0xFFFFu);
}

CommandResponder::CommandResponder(const SimConfig& config, const std::string& address,
                                   const ChassisMessages& messages, ChassisState& state,
                                   ChassisSequences& sequences)
    : _config(config),
      _address(address),
      _messages(messages),
      _state(state),
      _sequences(sequences) {}

void CommandResponder::note(const std::string& line) const {
    errLine(_address + ": " + line);
}

CommandOutcome CommandResponder::respond(const CmdPacket& command) {
    CommandOutcome outcome;
    switch (command.cmd()) {
        case CmdPacket::COMPLETE_SYSTEM_STATUS_REQ:
            outcome.reply = statusFrames(_messages.completeStatus(_state));
            break;
        case CmdPacket::STATUS_REQ:
            outcome.reply = frame(STATUS_PACKET, _messages.status(_state));
            break;
        case CmdPacket::CONFIG_LIST:
            applyConfigList(command, outcome);
            break;
        case CmdPacket::CLOSED_LOOP_REQ:
            // Without the field the request changes nothing, and the report says so.
            if (command.has_closed_loop()) {
                _state.setClosedLoop(command.closed_loop());
            }
            outcome.report = frame(STATUS_PACKET, _messages.status(_state));
            break;
        case CmdPacket::DEV_MODE_REQ:
            outcome.reply = devModeReply(command);
            break;
        case CmdPacket::RAW_CMD:
        case CmdPacket::ONE_TIME_READ_REQ:
            outcome.reply = registerReply(command);
            break;
        case CmdPacket::LOGIC_REQ:
        case CmdPacket::LOGIC_INTERRUPT_REQ:
        case CmdPacket::UPDATE:
        case CmdPacket::UPDATE_COMMIT:
            outcome.report = sequenceReport(command);
            break;
        default:
            break;
    }
    return outcome;
}

std::string CommandResponder::sizeProblem(const ChannelList& channels) const {
    const std::size_t data = DataPacketEncoder::worstCaseSize(_messages.name().size(),
                                                              _messages.sensorCount(), channels);
    if (data > MAX_RECEIVE_PAYLOAD) {
        return "a data packet of " + std::to_string(channels.size()) + " channels can take " +
               std::to_string(data) + " bytes, above the 2048-byte frame limit";
    }
    ChassisState changed = _state;
    changed.setChannels(channels);
    const std::size_t status = _messages.completeStatusCoreSize(changed);
    if (status > MAX_RECEIVE_PAYLOAD) {
        return "the complete status with " + std::to_string(channels.size()) +
               " channels would take " + std::to_string(status) +
               " bytes, above the 2048-byte frame limit";
    }
    return {};
}

void CommandResponder::applyConfigList(const CmdPacket& command, CommandOutcome& outcome) {
    constexpr auto kLargestType =
        static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max());
    ChannelList channels = *_state.channels();
    for (const ConfigMessage& entry : command.config_list()) {
        const SimChannel wanted{entry.sensor_id(), entry.datatype(), entry.freq()};
        if (!entry.has_sensor_id() || !entry.has_datatype() || !entry.has_freq()) {
            note("CONFIG_LIST entry without sensor, data type or rate ignored");
            continue;
        }
        if (!_state.hasSensor(wanted.sensor)) {
            note("CONFIG_LIST entry for " + channelText(wanted) + " ignored: sensors are 1 to " +
                 std::to_string(_state.sensorCount()));
            continue;
        }
        if (wanted.datatype > kLargestType) {
            note("CONFIG_LIST entry for " + channelText(wanted) +
                 " ignored: the data type does not fit the 32-bit signed data field");
            continue;
        }
        ChannelList next = ChassisState::withEntry(channels, wanted);
        if (next.size() > channels.size()) {
            if (const std::string problem = sizeProblem(next); !problem.empty()) {
                note("CONFIG_LIST addition of " + channelText(wanted) + " refused: " + problem);
                continue;
            }
        }
        channels = std::move(next);
    }
    if (channels != *_state.channels()) {
        _state.setChannels(std::move(channels));
        outcome.channelsChanged = true;
    }
    if (_config.log) {
        outLine(_address + ": channel set now has " + std::to_string(_state.channels()->size()) +
                " channels");
    }
    outcome.report = frame(STATUS_PACKET, _messages.sensorConfig(_state));
}

std::string CommandResponder::devModeReply(const CmdPacket& command) const {
    const DevModeValidation& request = command.dev_mode();
    const bool known = command.has_dev_mode() && request.has_enable();
    const bool enable = known && request.enable();
    bool valid = known && !enable;
    if (enable) {
        const std::string& password = request.password();
        valid =
            !password.empty() && (_config.devPassword.empty() || password == _config.devPassword);
    }
    CmdPacket reply;
    reply.set_cmd(CmdPacket::DEV_MODE_REQ);
    reply.mutable_dev_mode()->set_valid(valid);
    reply.mutable_dev_mode()->set_enable(enable);
    std::string payload;
    reply.SerializePartialToString(&payload);
    return frame(CMD_PACKET, payload);
}

std::string CommandResponder::registerReply(const CmdPacket& command) {
    if (!command.has_raw_cmd()) {
        note("register access without raw_cmd not answered");
        return {};
    }
    const RawCommand& request = command.raw_cmd();
    const std::uint32_t sensor = request.sensor_num();
    const auto key = std::make_pair(sensor, request.register_address());
    // A slot without a card has no registers: nothing is kept and 0 is reported, but the
    // access is still answered, so nobody waits for a reply that never comes.
    std::uint32_t data = 0;
    if (!_state.hasSensor(sensor)) {
        note("register access on sensor " + std::to_string(sensor) +
             " answered with 0: sensors are 1 to " + std::to_string(_state.sensorCount()));
    } else if (command.cmd() == CmdPacket::RAW_CMD) {
        data = request.data();
        if (_registers.size() < MAX_REGISTERS || _registers.contains(key)) {
            _registers[key] = data;
        } else {
            note("register write not kept: " + std::to_string(MAX_REGISTERS) +
                 " registers hold values already");
        }
    } else {
        const auto stored = _registers.find(key);
        data = stored != _registers.end() ? stored->second
                                          : registerReadValue(sensor, request.register_address());
    }
    CmdPacket reply;
    reply.set_cmd(CmdPacket::RAW_CMD_RESP);
    RawCommand* answer = reply.mutable_raw_cmd();
    answer->set_all_sensors(false);
    answer->set_sensor_num(sensor);
    answer->set_register_address(request.register_address());
    answer->set_data(data);
    std::string payload;
    reply.SerializePartialToString(&payload);
    return frame(CMD_PACKET, payload);
}

std::string CommandResponder::sequenceReport(const CmdPacket& command) {
    const auto now = ChassisSequences::Clock::now();
    std::string report;
    switch (command.cmd()) {
        case CmdPacket::LOGIC_REQ:
            for (const LogicMessage& request : command.logic_req()) {
                report += _sequences.startLogic(request, now);
            }
            if (command.logic_req_size() == 0) {
                note("LOGIC_REQ without logic_req ignored");
            }
            break;
        case CmdPacket::LOGIC_INTERRUPT_REQ:
            for (const LogicInterruptMessage& request : command.logic_interrupt_req()) {
                report += _sequences.interrupt(request);
            }
            if (command.logic_interrupt_req_size() == 0) {
                note("LOGIC_INTERRUPT_REQ without logic_interrupt_req ignored");
            }
            break;
        case CmdPacket::UPDATE:
            if (command.has_uri()) {
                report = _sequences.startUpdate(command.uri(), now);
            } else {
                note("UPDATE without uri ignored");
            }
            break;
        case CmdPacket::UPDATE_COMMIT:
            report = _sequences.commitUpdate();
            break;
        default:
            break;
    }
    return report;
}

}  // namespace chassis_sim
