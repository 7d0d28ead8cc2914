#include "device_mgr.h"

#include "log_line.h"
#include "network_connection.h"
#include "proto_parse.h"

std::shared_ptr<DeviceMgr> DeviceMgr::_singleton;

namespace {
constexpr std::uint32_t CHASSIS_PORT = 7777;
}

std::shared_ptr<DeviceMgr> DeviceMgr::GetInstance() {
    static std::once_flag once;
    std::call_once(once, [] { _singleton.reset(new DeviceMgr()); });
    return _singleton;
}

void DeviceMgr::connect(const std::vector<std::string>& addresses) {
    std::int32_t id = 0;
    for (const auto& address : addresses) {
        outLine("IP: " + address);
        auto connection = std::make_shared<NetworkConnection>(
            address, CHASSIS_PORT, static_cast<std::uint32_t>(id), std::make_shared<ProtoParse>());
        registerConnection(id, connection);
        connection->start();
        ++id;
    }
}

void DeviceMgr::disconnect() {
    std::map<std::int32_t, std::shared_ptr<NetworkConnection>> connections;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        connections.swap(_connections);
    }
    for (auto& [id, connection] : connections) {
        outLine("Stopping device");
        if (connection) {
            connection->stop();
        }
    }
}

void DeviceMgr::registerConnection(std::int32_t id, std::shared_ptr<NetworkConnection> connection) {
    std::shared_ptr<NetworkConnection> previous;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        auto& slot = _connections[id];
        previous = std::move(slot);
        slot = std::move(connection);
    }
    if (previous) {
        previous->stop();
    }
}

void DeviceMgr::queueCmd(std::int32_t id, std::string bytes) {
    std::lock_guard<std::mutex> lock(_mutex);
    auto it = _connections.find(id);
    if (it == _connections.end()) {
        errLine("Error Chassis: unable to find " + std::to_string(id));
        errLine("Error: chassis " + std::to_string(id) + " not found");
        return;
    }
    if (!it->second) {
        errLine("Error: chassis " + std::to_string(id) + " does not have a connection");
        return;
    }
    it->second->queueCmd(std::move(bytes));
}

void DeviceMgr::resetConnection(std::int32_t /*id*/) {
    // The chassis model clears its complete-status mark here.
}

std::pair<std::uint32_t, std::uint32_t> DeviceMgr::getActiveConnections() {
    std::lock_guard<std::mutex> lock(_mutex);
    std::uint32_t connected = 0;
    for (const auto& [id, connection] : _connections) {
        if (connection && connection->isConnected()) {
            ++connected;
        }
    }
    return {connected, static_cast<std::uint32_t>(_connections.size())};
}
