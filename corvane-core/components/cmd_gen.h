#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device_records.h"

class CmdPacket;

// The one place where command packets for a chassis are built. Each operation fills a
// CmdPacket, serializes it and queues the bytes for one chassis through the registry, so no
// operation may be called while the registry lock is held. Stateless; any thread.
class CmdGen {
public:
    static std::shared_ptr<CmdGen> GetInstance();

    void genCmdStatusReq(std::int32_t chassisId);
    void genCmdSensorConfigReq(std::int32_t chassisId);
    void genCmdCompleteSystemStatusReq(std::int32_t chassisId);
    void genCmdDevModeOn(std::int32_t chassisId, const std::string& password);
    void genCmdDevModeOff(std::int32_t chassisId);
    void genCmdConfigSensorList(std::int32_t chassisId, const std::vector<ChannelConfig>& configs);
    void genCmdSyncReq(std::int32_t chassisId, std::int32_t count);
    // `logicType` must be a LogicMessage::EnumLogicType value.
    void genCmdLogic(std::int32_t chassisId, const std::vector<std::uint32_t>& sensorIds,
                     std::uint32_t logicType);
    void genCmdLogicInterrupt(std::int32_t chassisId, const std::vector<std::uint32_t>& sensorIds,
                              std::uint32_t interruptType);
    void genCmdClosedLoop(std::int32_t chassisId, bool on);
    void genCmdUpdateStart(std::int32_t chassisId, const std::string& uri);
    void genCmdUpdateCommit(std::int32_t chassisId);
    void genCmdRawCmd(std::int32_t chassisId, std::int32_t sensorNum, std::uint32_t registerAddress,
                      std::uint32_t data);
    void genCmdOneTimeRead(std::int32_t chassisId, std::int32_t sensorNum,
                           std::uint32_t registerAddress);

    // Serializes the packet (required fields are not checked) and hands it to the registry.
    void queueCmd(std::int32_t chassisId, const CmdPacket& packet);

private:
    CmdGen() = default;

    static std::shared_ptr<CmdGen> _singleton;
};
