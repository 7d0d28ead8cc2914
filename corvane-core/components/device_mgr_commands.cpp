// The registry's chassis commands: each operation reads what it needs under the registry lock,
// releases it, and only then has the command generator build and queue the packets, because
// queueing re-enters the registry and takes the same lock.

#include <map>

#include "chassis.h"
#include "cmd_gen.h"
#include "device_mgr.h"
#include "log_line.h"
#include "sensor_card.h"

namespace {

// Announces a synchronized command to chassis 0 with the number of chassis about to receive
// it, then sends it to each selected chassis in increasing id order with that chassis' sensor
// ids in selection order, repetitions kept. The selection is the caller's own data: no
// registry state is read, so no lock is taken.
template <typename Send>
void sendSynchronized(const std::vector<SensorSelect>& selection, Send send) {
    std::map<std::uint32_t, std::vector<std::uint32_t>> byChassis;
    for (const auto& selected : selection) {
        byChassis[selected.cId].push_back(selected.sId);
    }
    if (byChassis.empty()) {
        return;
    }
    auto generator = CmdGen::GetInstance();
    // Chassis 0 leads the synchronisation whether or not it is among the receivers.
    generator->genCmdSyncReq(0, static_cast<std::int32_t>(byChassis.size()));
    for (const auto& [id, sensors] : byChassis) {
        send(*generator, static_cast<std::int32_t>(id), sensors);
    }
}

}  // namespace

void DeviceMgr::configureChannelList(std::uint32_t chassisId, std::uint32_t sensorId,
                                     const std::vector<Channel>& wanted) {
    std::vector<ChannelConfig> configs;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        auto chassis = _getChassisById(static_cast<std::int32_t>(chassisId));
        if (!chassis) {
            return;
        }
        std::vector<Channel> current;
        if (sensorId == 0) {
            current = chassis->getChannels();
        } else if (auto card = chassis->getSensor(sensorId)) {
            current = card->getChannels();
        }
        // Channels are matched by data type only; a new rate needs no removal first.
        for (const auto& channel : current) {
            bool kept = false;
            for (const auto& want : wanted) {
                kept = kept || want.datatype == channel.datatype;
            }
            if (!kept) {
                outLine("Chassis " + std::to_string(chassisId) + " Sensor " +
                        std::to_string(sensorId) + " removed channel " +
                        std::to_string(channel.datatype));
                configs.emplace_back(sensorId, channel.datatype, 0);
            }
        }
        // Every wanted channel is sent, also one already configured at that rate.
        for (const auto& want : wanted) {
            configs.emplace_back(sensorId, want.datatype, want.freq);
        }
    }
    if (!configs.empty()) {
        CmdGen::GetInstance()->genCmdConfigSensorList(static_cast<std::int32_t>(chassisId),
                                                      configs);
    }
}

void DeviceMgr::quickChannelConfig(std::uint32_t chassisId,
                                   const std::vector<std::uint32_t>& sensorIds,
                                   const std::vector<std::uint32_t>& dataTypes,
                                   std::uint32_t freq) {
    std::vector<ChannelConfig> configs;
    for (const auto sensor : sensorIds) {
        for (const auto datatype : dataTypes) {
            configs.emplace_back(sensor, datatype, freq);
        }
    }
    if (!configs.empty()) {
        CmdGen::GetInstance()->genCmdConfigSensorList(static_cast<std::int32_t>(chassisId),
                                                      configs);
    }
}

void DeviceMgr::setClosedLoop(bool on) {
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        count = _getNumConnections();
        _closedLoop = on;
        // An adopting cycle after connect stays adopting: its end decides the state.
        _updateWaitingOnClosedLoop();
    }
    auto generator = CmdGen::GetInstance();
    // Sent even with no chassis: it is dropped with the registry's messages.
    generator->genCmdSyncReq(0, static_cast<std::int32_t>(count));
    for (std::uint32_t id = 0; id < count; ++id) {
        generator->genCmdClosedLoop(static_cast<std::int32_t>(id), on);
    }
}

void DeviceMgr::sendLogicCommand(const std::vector<SensorSelect>& selection,
                                 std::uint32_t logicType) {
    sendSynchronized(selection, [logicType](CmdGen& generator, std::int32_t id,
                                            const std::vector<std::uint32_t>& sensors) {
        generator.genCmdLogic(id, sensors, logicType);
    });
}

void DeviceMgr::sendLogicInterruptCommand(const std::vector<SensorSelect>& selection,
                                          std::uint32_t interruptType) {
    sendSynchronized(selection, [interruptType](CmdGen& generator, std::int32_t id,
                                                const std::vector<std::uint32_t>& sensors) {
        generator.genCmdLogicInterrupt(id, sensors, interruptType);
    });
}

void DeviceMgr::sendUpdateStartCommand(const std::string& uri) {
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        count = _getNumConnections();
    }
    auto generator = CmdGen::GetInstance();
    for (std::uint32_t id = 0; id < count; ++id) {
        generator->genCmdUpdateStart(static_cast<std::int32_t>(id), uri);
    }
}

void DeviceMgr::sendUpdateCommitCommand() {
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        count = _getNumConnections();
    }
    auto generator = CmdGen::GetInstance();
    for (std::uint32_t id = 0; id < count; ++id) {
        generator->genCmdUpdateCommit(static_cast<std::int32_t>(id));
    }
}

void DeviceMgr::sendRawCmd(std::uint32_t chassisId, std::uint32_t sensorNum,
                           std::uint32_t registerAddress, std::uint32_t data) {
    CmdGen::GetInstance()->genCmdRawCmd(static_cast<std::int32_t>(chassisId),
                                        static_cast<std::int32_t>(sensorNum), registerAddress,
                                        data);
}

void DeviceMgr::sendOneTimeRead(std::uint32_t chassisId, std::uint32_t sensorNum,
                                std::uint32_t registerAddress) {
    CmdGen::GetInstance()->genCmdOneTimeRead(static_cast<std::int32_t>(chassisId),
                                             static_cast<std::int32_t>(sensorNum), registerAddress);
}

void DeviceMgr::setDevMode(bool enable, const std::string& password) {
    std::uint32_t count = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        count = _getNumConnections();
        _updateWaitingOnDevMode();
        _devMode = enable;
    }
    auto generator = CmdGen::GetInstance();
    for (std::uint32_t id = 0; id < count; ++id) {
        if (enable) {
            generator->genCmdDevModeOn(static_cast<std::int32_t>(id), password);
        } else {
            generator->genCmdDevModeOff(static_cast<std::int32_t>(id));
        }
    }
}
