#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class NetworkConnection;

// Registry of the chassis links, numbered by the position of their address. This first
// version keeps one connection per chassis id; the chassis model replaces the plain map.
class DeviceMgr {
public:
    static std::shared_ptr<DeviceMgr> GetInstance();

    // Creates and starts one connection per address (port 7777), ids counting from 0.
    void connect(const std::vector<std::string>& addresses);
    // Stops every connection and forgets them.
    void disconnect();

    // Makes `connection` the link of chassis `id`, replacing any earlier one (which must
    // already be stopped or is stopped here, outside the registry lock).
    void registerConnection(std::int32_t id, std::shared_ptr<NetworkConnection> connection);

    // Hands serialized command bytes to the chassis' connection.
    void queueCmd(std::int32_t id, std::string bytes);
    // Called by a connection thread when its link drops.
    void resetConnection(std::int32_t id);
    // (connected chassis, chassis count)
    std::pair<std::uint32_t, std::uint32_t> getActiveConnections();

private:
    DeviceMgr() = default;

    static std::shared_ptr<DeviceMgr> _singleton;

    // Guards _connections. Lock order: _mutex before a connection's queue lock. Never held
    // while a connection is stopped (stop joins a thread that may be waiting for it).
    std::mutex _mutex;
    std::map<std::int32_t, std::shared_ptr<NetworkConnection>> _connections;
};
