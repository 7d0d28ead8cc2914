// The registry's status handling and model queries: status messages build and update the
// chassis records; queries hand out flat copies.

#include "callback_mgr.h"
#include "chassis.h"
#include "device_mgr.h"
#include "discovery.pb.h"
#include "log_line.h"
#include "net-protocol.pb.h"

namespace {

// Chassis-level channel of data type 0: the single-precision float 5 * 2^-24.
constexpr float CHASSIS_TYPE0_CALIBRATION = 2.9802322e-07f;
// Sizes read from a status message are checked before anything is sized from them.
constexpr std::uint32_t MAX_SLOTS = 1024;
constexpr std::uint32_t MAX_SYSTEM_CHASSIS = 1024;

}  // namespace

void DeviceMgr::updateStatus(const std::shared_ptr<StatusPacket>& message) {
    if (!message || !message->has_chassis_name()) {
        errLine("updateStatus: chassis name is not set!");
        return;
    }
    const std::string name = message->chassis_name();

    bool configUpdate = false;
    std::uint32_t systemStatus = 0;
    bool closedLoopComplete = false;
    bool closedLoop = false;
    std::vector<SensorError> errors;
    bool progress = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        outLine("updateStatus for " + name);
        _updateSystemStatus(*message);
        _updateChassisStatus(*message);
        _updateSensorStatus(*message);
        _updateSensorState(*message, errors);
        _updateSensorConfig(*message);
        _updateSensorFields(*message);
        _updateSensorLed(*message);
        progress = message->has_progress() && message->has_progress_msg();

        auto chassis = _getChassisByName(name);
        if (chassis && message->type() == StatusPacket::COMPLETE_SYSTEM_STATUS) {
            chassis->setCompleteSystemStatus();
        }
        if (chassis && chassis->isConnected()) {
            configUpdate = true;
            systemStatus = chassis->getSystemStatus();
            if (!_waitingOnClosedLoop.empty()) {
                for (const auto& [id, idName] : _chassisIdToName) {
                    if (idName != name) {
                        continue;
                    }
                    if ((chassis->getClosedLoop() == _closedLoop || _adoptClosedLoop) &&
                        _waitingOnClosedLoop.erase(static_cast<std::uint32_t>(id)) != 0 &&
                        _waitingOnClosedLoop.empty()) {
                        if (_adoptClosedLoop) {
                            _adoptClosedLoop = false;
                            _closedLoop = chassis->getClosedLoop();
                        }
                        closedLoopComplete = true;
                        closedLoop = _closedLoop;
                    }
                    break;
                }
            }
        }
    }

    auto callbacks = CallbackMgr::GetInstance();
    if (configUpdate) {
        callbacks->callbackConfigUpdate();
    }
    if (closedLoopComplete) {
        callbacks->callbackClosedLoopComplete(closedLoop);
    }
    if (configUpdate) {
        callbacks->callbackSystemStatus(name, systemStatus);
    }
    for (const auto& error : errors) {
        callbacks->callbackSensorError(error.chassisName, error.sensorId, error.errorFlags);
    }
    if (progress) {
        callbacks->callbackProgress(name, message->progress(), message->progress_msg());
    }
}

void DeviceMgr::parseStatus(const std::uint8_t* data, std::int32_t length) {
    auto message = std::make_shared<StatusPacket>();
    // Applied as far as it decoded, like every status message.
    message->ParseFromArray(data, length < 0 ? 0 : length);
    updateStatus(message);
}

void DeviceMgr::_updateSystemStatus(const StatusPacket& message) {
    auto chassis = _getAndInsertChassis(message.chassis_name());
    if (message.has_status()) {
        chassis->setSystemStatus(static_cast<std::uint32_t>(message.status()));
    }
    if (!message.has_system_status()) {
        return;
    }
    const auto& system = message.system_status();
    if (system.has_master()) {
        chassis->setHost(system.master());
    }
    if (system.has_serial()) {
        chassis->setSerial(system.serial());
    }
    if (system.has_serial_short()) {
        chassis->setSerialShort(system.serial_short());
    }
    if (system.has_num() && system.has_total() && system.total() > MAX_SYSTEM_CHASSIS) {
        errLine("Chassis " + chassis->getName() + " reports a system of " +
                std::to_string(system.total()) + " chassis; ignored");
    } else if (system.has_num() && system.has_total()) {
        chassis->setNum(static_cast<std::int32_t>(system.num()),
                        static_cast<std::int32_t>(system.total()));
        _updateAgents();
    }
    if (system.has_version()) {
        chassis->setVersion(system.version());
    }
    if (system.has_num_slots() && system.num_slots() > MAX_SLOTS) {
        errLine("Chassis " + chassis->getName() + " reports " + std::to_string(system.num_slots()) +
                " slots; ignored");
    } else if (system.has_num_slots()) {
        outLine("Chassis " + chassis->getName() + " has " + std::to_string(system.num_slots()) +
                " slots");
        chassis->setSlots(system.num_slots());
    }
}

void DeviceMgr::_updateChassisStatus(const StatusPacket& message) {
    auto chassis = _getAndInsertChassis(message.chassis_name());
    if (message.has_chassis_status() && message.chassis_status().has_closed_loop()) {
        chassis->setClosedLoop(message.chassis_status().closed_loop());
    }
}

void DeviceMgr::_updateSensorStatus(const StatusPacket& message) {
    if (message.sensor_status_size() == 0) {
        return;
    }
    auto chassis = _getAndInsertChassis(message.chassis_name());
    outLine("Message has sensor status of size " + std::to_string(message.sensor_status_size()));
    for (const auto& status : message.sensor_status()) {
        outLine("Sensor: " + std::to_string(status.sensor_id()) + " with serial " +
                status.sensor_card_serial_num());
        auto card = chassis->addSensorCard(status.sensor_id(), status.sensor_card_serial_num());
        if (!card) {
            continue;
        }
        if (status.has_sensor_connected()) {
            if (status.sensor_connected()) {
                if (status.has_sensor_serial_num()) {
                    card->setSensorConnected(status.sensor_serial_num());
                }
            } else {
                card->setSensorDisconnected();
            }
        }
        if (status.has_sensor_version()) {
            card->setVersion(status.sensor_version());
        }
    }
}

void DeviceMgr::_updateSensorState(const StatusPacket& message, std::vector<SensorError>& errors) {
    auto chassis = _getAndInsertChassis(message.chassis_name());
    if (!chassis->isConnected()) {
        return;
    }
    for (const auto& state : message.sensor_state()) {
        if (state.has_error_flags()) {
            errors.emplace_back(message.chassis_name(), state.sensor_id(), state.error_flags());
        }
    }
}

void DeviceMgr::_updateSensorConfig(const StatusPacket& message) {
    if (message.sensor_config_size() == 0 && message.type() != StatusPacket::SENSOR_CONFIG) {
        return;
    }
    auto chassis = _getAndInsertChassis(message.chassis_name());
    const std::uint32_t slots = chassis->getNumSlots();
    std::vector<std::vector<Channel>> slotChannels(slots);
    std::vector<Channel> chassisChannels;
    outLine("Got sensor config size " + std::to_string(message.sensor_config_size()));
    for (const auto& config : message.sensor_config()) {
        const std::uint32_t sensor = config.sensor();
        const std::uint32_t datatype = config.datatype();
        outLine("sensor " + std::to_string(sensor) + " datatype " + std::to_string(datatype) +
                " freq " + std::to_string(config.freq()));
        if (sensor == 0) {
            Channel channel(0, datatype);  // chassis-level channels keep freq 1000
            channel.calibration = datatype == 0 ? CHASSIS_TYPE0_CALIBRATION : 0.0f;
            chassisChannels.push_back(channel);
        } else if (sensor <= slots) {
            Channel channel(sensor, datatype);
            channel.freq = config.freq();
            channel.calibration = config.has_calibration() ? config.calibration() : 0.0f;
            slotChannels[sensor - 1].push_back(channel);
        }
    }
    chassis->updateChannels(std::move(chassisChannels));
    for (std::uint32_t slot = 1; slot <= slots; ++slot) {
        if (auto card = chassis->getSensor(slot)) {
            card->updateChannels(std::move(slotChannels[slot - 1]));
        }
    }
}

void DeviceMgr::_updateSensorFields(const StatusPacket& message) {
    if (message.sensor_field_size() == 0) {
        return;
    }
    auto chassis = _getAndInsertChassis(message.chassis_name());
    for (const auto& field : message.sensor_field()) {
        if (!field.has_sensor_id()) {
            continue;
        }
        if (auto card = chassis->getSensor(field.sensor_id())) {
            card->setFieldX(field.has_field_x(), field.field_x());
            card->setFieldY(field.has_field_y(), field.field_y());
            card->setFieldZ(field.has_field_z(), field.field_z());
        }
    }
}

void DeviceMgr::_updateSensorLed(const StatusPacket& message) {
    if (message.sensor_led_size() == 0) {
        return;
    }
    auto chassis = _getAndInsertChassis(message.chassis_name());
    for (const auto& led : message.sensor_led()) {
        if (!led.has_sensor_id() || !led.has_blink_state() || !led.has_color()) {
            continue;
        }
        if (auto card = chassis->getSensor(led.sensor_id())) {
            card->setLed(led.blink_state(), led.color());
        }
    }
}

void DeviceMgr::_updateAgents() {
    for (const auto& [hostName, host] : _chassisByName) {
        // A host without a serial cannot be named by its agents; an empty match would link
        // every chassis that reports no host at all.
        if (host->getNum() != 1 || host->getTotal() <= 1 || host->getSerial().empty()) {
            continue;
        }
        for (const auto& [agentName, agent] : _chassisByName) {
            if (agent == host || agent->getHost() != host->getSerial()) {
                continue;
            }
            if (agent->getTotal() == host->getTotal()) {
                host->setAgent(agent);
            } else {
                errLine("Total mismatch for host " + hostName + " and agent " + agentName);
            }
        }
    }
}

std::vector<Channel> DeviceMgr::getAllChannels() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<Channel> channels;
    for (const auto& [id, name] : _chassisIdToName) {
        auto chassis = _getChassisByName(name);
        if (!chassis) {
            continue;
        }
        auto append = [&](std::vector<Channel> list) {
            for (auto& channel : list) {
                channel.cId = id;
                channels.push_back(channel);
            }
        };
        append(chassis->getChannels());
        for (const auto& card : chassis->getSensors()) {
            append(card->getChannels());
        }
    }
    return channels;
}

std::vector<Channel> DeviceMgr::getChannels(std::uint32_t chassisId, std::uint32_t sensorId) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto chassis = _getChassisById(static_cast<std::int32_t>(chassisId));
    if (!chassis) {
        return {};
    }
    std::vector<Channel> channels;
    if (sensorId == 0) {
        channels = chassis->getChannels();
    } else if (auto card = chassis->getSensor(sensorId)) {
        channels = card->getChannels();
    }
    for (auto& channel : channels) {
        channel.cId = static_cast<std::int32_t>(chassisId);
    }
    return channels;
}

std::vector<SensorInfo> DeviceMgr::getSensorInfo() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<SensorInfo> infos;
    for (const auto& [id, name] : _chassisIdToName) {
        auto chassis = _getChassisByName(name);
        if (!chassis) {
            continue;
        }
        const auto cId = static_cast<std::uint32_t>(id);
        infos.emplace_back(cId, 0, chassis->getNumChannels(), chassis->getSerialShort());
        for (const auto& card : chassis->getSensors()) {
            SensorInfo info(cId, card->getId(), card->getNumChannels(), card->getSerialShort());
            if (card->hasFieldX()) {
                info.setFieldX(card->getFieldX());
            }
            if (card->hasFieldY()) {
                info.setFieldY(card->getFieldY());
            }
            if (card->hasFieldZ()) {
                info.setFieldZ(card->getFieldZ());
            }
            info.ledBlinkState = card->getLedBlinkState();
            info.ledColor = card->getLedColor();
            infos.push_back(std::move(info));
        }
    }
    return infos;
}

std::vector<ChassisInfo> DeviceMgr::getChassisInfo() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<ChassisInfo> infos;
    for (const auto& [id, name] : _chassisIdToName) {
        ChassisInfo info(static_cast<std::uint32_t>(id), name);
        if (auto chassis = _getChassisByName(name)) {
            info.version = chassis->getVersion();
        }
        infos.push_back(std::move(info));
    }
    return infos;
}

bool DeviceMgr::allVersionsEqual() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_chassisIdToName.empty()) {
        return true;
    }
    auto first = _getChassisById(0);
    const std::string version = first ? first->getVersion() : std::string();
    for (const auto& [id, name] : _chassisIdToName) {
        auto chassis = _getChassisByName(name);
        if (chassis && chassis->getVersion() != version) {
            return false;
        }
    }
    return true;
}

void DeviceMgr::parseDiscovery(const std::uint8_t* data, std::int32_t length) {
    DeviceInfo info;
    info.ParseFromArray(data, length < 0 ? 0 : length);
    std::lock_guard<std::mutex> lock(_mutex);
    if (info.has_name()) {
        outLine("Device name: " + info.name());
        if (auto chassis = _getAndInsertChassis(info.name())) {
            chassis->setNum(1, 1);
        }
    }
    if (info.has_device_type()) {
        outLine("Device type: " + info.device_type());
    }
}

std::vector<std::vector<DeviceInfoStruct>> DeviceMgr::getDeviceInfo() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::vector<DeviceInfoStruct>> systems;
    for (const auto& [name, chassis] : _chassisByName) {
        if (chassis->getNum() == 1) {
            systems.push_back(chassis->getDeviceList());
        }
    }
    return systems;
}

std::vector<std::shared_ptr<Chassis>> DeviceMgr::getHosts() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::shared_ptr<Chassis>> hosts;
    for (const auto& [name, chassis] : _chassisByName) {
        if (chassis->getNum() == 1) {
            hosts.push_back(chassis);
        }
    }
    return hosts;
}
