#include "cmd_gen.h"

#include <mutex>
#include <string>

#include "device_mgr.h"
#include "log_line.h"
#include "net-protocol.pb.h"

std::shared_ptr<CmdGen> CmdGen::_singleton;

namespace {

CmdPacket packetOf(CmdPacket::EnumCmdType type) {
    CmdPacket packet;
    packet.set_cmd(type);
    return packet;
}

}  // namespace

std::shared_ptr<CmdGen> CmdGen::GetInstance() {
    // Connection threads may ask for the generator at the same time.
    static std::once_flag once;
    std::call_once(once, [] { _singleton.reset(new CmdGen()); });
    return _singleton;
}

void CmdGen::genCmdStatusReq(std::int32_t chassisId) {
    queueCmd(chassisId, packetOf(CmdPacket::STATUS_REQ));
}

void CmdGen::genCmdSensorConfigReq(std::int32_t chassisId) {
    queueCmd(chassisId, packetOf(CmdPacket::SENSOR_CONFIG_REQ));
}

void CmdGen::genCmdCompleteSystemStatusReq(std::int32_t chassisId) {
    queueCmd(chassisId, packetOf(CmdPacket::COMPLETE_SYSTEM_STATUS_REQ));
}

void CmdGen::genCmdDevModeOn(std::int32_t chassisId, const std::string& password) {
    CmdPacket packet = packetOf(CmdPacket::DEV_MODE_REQ);
    packet.mutable_dev_mode()->set_password(password);
    packet.mutable_dev_mode()->set_enable(true);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdDevModeOff(std::int32_t chassisId) {
    CmdPacket packet = packetOf(CmdPacket::DEV_MODE_REQ);
    packet.mutable_dev_mode()->set_enable(false);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdConfigSensorList(std::int32_t chassisId,
                                    const std::vector<ChannelConfig>& configs) {
    CmdPacket packet = packetOf(CmdPacket::CONFIG_LIST);
    for (const auto& config : configs) {
        auto* entry = packet.add_config_list();
        entry->set_sensor_id(config.sensorId);
        entry->set_datatype(config.datatype);
        entry->set_freq(config.freq);
    }
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdSyncReq(std::int32_t chassisId, std::int32_t count) {
    CmdPacket packet = packetOf(CmdPacket::SYNC_CMD_REQ);
    packet.set_num_sync_chassis(static_cast<std::uint32_t>(count));
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdLogic(std::int32_t chassisId, const std::vector<std::uint32_t>& sensorIds,
                         std::uint32_t logicType) {
    CmdPacket packet = packetOf(CmdPacket::LOGIC_REQ);
    auto* logic = packet.add_logic_req();
    // Setting a value outside the enumeration would abort inside the message library.
    if (LogicMessage::EnumLogicType_IsValid(static_cast<int>(logicType))) {
        logic->set_type(static_cast<LogicMessage::EnumLogicType>(logicType));
    } else {
        errLine("genCmdLogic: invalid logic type " + std::to_string(logicType));
    }
    for (const auto id : sensorIds) {
        logic->add_sensor_list(id);
    }
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdLogicInterrupt(std::int32_t chassisId,
                                  const std::vector<std::uint32_t>& sensorIds,
                                  std::uint32_t interruptType) {
    CmdPacket packet = packetOf(CmdPacket::LOGIC_INTERRUPT_REQ);
    auto* interrupt = packet.add_logic_interrupt_req();
    interrupt->set_type(interruptType);
    for (const auto id : sensorIds) {
        interrupt->add_sensor_list(id);
    }
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdClosedLoop(std::int32_t chassisId, bool on) {
    CmdPacket packet = packetOf(CmdPacket::CLOSED_LOOP_REQ);
    packet.set_closed_loop(on);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdUpdateStart(std::int32_t chassisId, const std::string& uri) {
    CmdPacket packet = packetOf(CmdPacket::UPDATE);
    packet.set_uri(uri);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdUpdateCommit(std::int32_t chassisId) {
    queueCmd(chassisId, packetOf(CmdPacket::UPDATE_COMMIT));
}

void CmdGen::genCmdRawCmd(std::int32_t chassisId, std::int32_t sensorNum,
                          std::uint32_t registerAddress, std::uint32_t data) {
    CmdPacket packet = packetOf(CmdPacket::RAW_CMD);
    auto* raw = packet.mutable_raw_cmd();
    raw->set_all_sensors(false);
    raw->set_sensor_num(static_cast<std::uint32_t>(sensorNum));
    raw->set_register_address(registerAddress);
    raw->set_data(data);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdOneTimeRead(std::int32_t chassisId, std::int32_t sensorNum,
                               std::uint32_t registerAddress) {
    CmdPacket packet = packetOf(CmdPacket::ONE_TIME_READ_REQ);
    auto* raw = packet.mutable_raw_cmd();
    raw->set_all_sensors(false);
    raw->set_sensor_num(static_cast<std::uint32_t>(sensorNum));
    raw->set_register_address(registerAddress);
    raw->set_data(0);
    queueCmd(chassisId, packet);
}

void CmdGen::queueCmd(std::int32_t chassisId, const CmdPacket& packet) {
    std::string bytes;
    packet.SerializePartialToString(&bytes);
    DeviceMgr::GetInstance()->queueCmd(chassisId, std::move(bytes));
}
