#include "device_mgr.h"

#include "callback_mgr.h"
#include "chassis.h"
#include "data_aggregator.h"
#include "log_line.h"
#include "net-protocol.pb.h"
#include "network_connection.h"
#include "proto_parse.h"

std::shared_ptr<DeviceMgr> DeviceMgr::_singleton;

std::shared_ptr<DeviceMgr> DeviceMgr::GetInstance() {
    static std::once_flag once;
    std::call_once(once, [] { _singleton.reset(new DeviceMgr()); });
    return _singleton;
}

void DeviceMgr::connect(const std::vector<std::string>& addresses,
                        const std::shared_ptr<DataAggregator>& aggregator) {
    bool connectedBefore = false;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        connectedBefore = !_chassisIdToName.empty();
    }
    if (connectedBefore) {
        // Releasing a running connection joins its thread: never under the lock.
        disconnect();
    }

    std::vector<std::shared_ptr<NetworkConnection>> replaced;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        _waitingOnDevMode.clear();
        _waitingOnClosedLoop.clear();

        // A repeated address would share one record (and so one connection) between two ids.
        std::map<std::int32_t, std::string> idToName;
        std::vector<std::string> kept;
        for (const auto& address : addresses) {
            const std::string name = address + ":" + std::to_string(CHASSIS_PORT);
            bool repeated = false;
            for (const auto& [id, known] : idToName) {
                repeated = repeated || known == name;
            }
            if (repeated) {
                errLine("Duplicate chassis address " + address + " ignored");
                continue;
            }
            idToName[static_cast<std::int32_t>(kept.size())] = name;
            kept.push_back(address);
            outLine("IP: " + address);
        }
        _setChassisIdToName(idToName);

        for (std::size_t i = 0; i < kept.size(); ++i) {
            const auto id = static_cast<std::int32_t>(i);
            auto parser = std::make_shared<ProtoParse>(
                aggregator ? aggregator->getDataReady() : nullptr, _singleton);
            if (aggregator) {
                aggregator->addParser(parser);
            }
            auto connection = std::make_shared<NetworkConnection>(
                kept[i], CHASSIS_PORT, static_cast<std::uint32_t>(id), parser);
            auto chassis = _getChassisById(id);
            if (auto old = chassis->getConnection()) {
                replaced.push_back(std::move(old));
            }
            chassis->resetConnection();
            chassis->setConnection(connection);
            connection->start();
        }

        _adoptClosedLoop = true;
        _updateWaitingOnClosedLoop();
    }
    for (auto& connection : replaced) {
        connection->stop();
    }
}

void DeviceMgr::disconnect() {
    std::unique_lock<std::mutex> lock(_mutex);
    const std::uint32_t count = _getNumConnections();
    for (std::uint32_t i = 0; i < count; ++i) {
        outLine("Stopping device");
        auto chassis = _getChassisById(static_cast<std::int32_t>(i));
        auto connection = chassis ? chassis->getConnection() : nullptr;
        lock.unlock();
        if (connection) {
            connection->stop();
            connection.reset();
        }
        lock.lock();
        if (chassis) {
            chassis->setConnection(nullptr);
        }
    }
    _setChassisIdToName({});
}

bool DeviceMgr::allConnected() {
    std::lock_guard<std::mutex> lock(_mutex);
    const std::uint32_t count = _getNumConnections();
    for (std::uint32_t i = 0; i < count; ++i) {
        auto chassis = _getChassisById(static_cast<std::int32_t>(i));
        if (!chassis) {
            return false;
        }
        auto connection = chassis->getConnection();
        if (!connection || !connection->isConnected() || !chassis->hasCompleteSystemStatus()) {
            return false;
        }
    }
    return true;
}

std::pair<std::uint32_t, std::uint32_t> DeviceMgr::getActiveConnections() {
    std::lock_guard<std::mutex> lock(_mutex);
    const std::uint32_t count = _getNumConnections();
    std::uint32_t connected = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        auto chassis = _getChassisById(static_cast<std::int32_t>(i));
        auto connection = chassis ? chassis->getConnection() : nullptr;
        if (connection && connection->isConnected()) {
            ++connected;
        }
    }
    return {connected, count};
}

std::vector<std::string> DeviceMgr::getAbandonedAddresses() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::vector<std::string> addresses;
    for (const auto& [id, name] : _chassisIdToName) {
        auto chassis = _getChassisByName(name);
        auto connection = chassis ? chassis->getConnection() : nullptr;
        if (connection && connection->hasGivenUp()) {
            addresses.push_back(chassis->getIP());
        }
    }
    return addresses;
}

void DeviceMgr::resetConnection(std::int32_t id) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (auto chassis = _getChassisById(id)) {
        chassis->resetConnection();
    }
}

void DeviceMgr::queueCmd(std::int32_t id, std::string bytes) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto chassis = _getChassisById(id);
    if (!chassis) {
        errLine("Error: chassis " + std::to_string(id) + " not found");
        return;
    }
    auto connection = chassis->getConnection();
    if (!connection) {
        errLine("Error: chassis " + std::to_string(id) + " does not have a connection");
        return;
    }
    connection->queueCmd(std::move(bytes));
}

void DeviceMgr::attachConnection(std::int32_t id, const std::string& address,
                                 std::shared_ptr<NetworkConnection> connection) {
    std::shared_ptr<NetworkConnection> old;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        const std::string name = address + ":" + std::to_string(CHASSIS_PORT);
        _chassisIdToName[id] = name;
        auto chassis = _getAndInsertChassis(name);
        old = chassis->getConnection();
        chassis->resetConnection();
        chassis->setConnection(connection);
    }
    if (old && old != connection) {
        old->stop();
    }
}

void DeviceMgr::handleCmd(std::uint32_t chassisId, const std::shared_ptr<CmdPacket>& packet) {
    if (!packet) {
        return;
    }
    bool devModeComplete = false;
    bool devMode = false;
    bool rawResponse = false;
    std::uint32_t sensorNum = 0;
    std::uint32_t registerAddress = 0;
    std::uint32_t data = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (packet->cmd() == CmdPacket::DEV_MODE_REQ && packet->has_dev_mode() &&
            packet->dev_mode().has_valid() && packet->dev_mode().has_enable()) {
            const auto& reply = packet->dev_mode();
            if (reply.valid() && reply.enable() == _devMode &&
                _waitingOnDevMode.erase(chassisId) != 0 && _waitingOnDevMode.empty()) {
                devModeComplete = true;
                devMode = _devMode;
            }
        } else if (packet->cmd() == CmdPacket::RAW_CMD_RESP && packet->has_raw_cmd()) {
            rawResponse = true;
            sensorNum = packet->raw_cmd().sensor_num();
            registerAddress = packet->raw_cmd().register_address();
            data = packet->raw_cmd().data();
        }
    }
    if (devModeComplete) {
        CallbackMgr::GetInstance()->callbackDevModeComplete(devMode);
    }
    if (rawResponse) {
        CallbackMgr::GetInstance()->callbackRawCmdResp(chassisId, sensorNum, registerAddress, data);
    }
}

std::shared_ptr<Chassis> DeviceMgr::_getAndInsertChassis(const std::string& name) {
    auto it = _chassisByName.find(name);
    if (it == _chassisByName.end()) {
        outLine("_getAndInsertChassis adding new chassis " + name);
        it = _chassisByName.emplace(name, std::make_shared<Chassis>(name)).first;
    }
    return it->second;
}

std::shared_ptr<Chassis> DeviceMgr::_getChassisById(std::int32_t id) {
    auto it = _chassisIdToName.find(id);
    if (it == _chassisIdToName.end()) {
        errLine("Error Chassis: unable to find " + std::to_string(id));
        return nullptr;
    }
    return _getChassisByName(it->second);
}

std::shared_ptr<Chassis> DeviceMgr::_getChassisByName(const std::string& name) {
    auto it = _chassisByName.find(name);
    if (it == _chassisByName.end()) {
        errLine("Error Chassis: unable to find " + name);
        return nullptr;
    }
    return it->second;
}

void DeviceMgr::_setChassisIdToName(const std::map<std::int32_t, std::string>& idToName) {
    _chassisIdToName = idToName;
    for (const auto& [id, name] : _chassisIdToName) {
        _getAndInsertChassis(name);
    }
}

std::uint32_t DeviceMgr::_getNumConnections() const {
    return static_cast<std::uint32_t>(_chassisIdToName.size());
}

void DeviceMgr::_updateWaitingOnClosedLoop() {
    for (std::uint32_t id = 0; id < _getNumConnections(); ++id) {
        _waitingOnClosedLoop.insert(id);
    }
}

void DeviceMgr::_updateWaitingOnDevMode() {
    for (std::uint32_t id = 0; id < _getNumConnections(); ++id) {
        _waitingOnDevMode.insert(id);
    }
}
