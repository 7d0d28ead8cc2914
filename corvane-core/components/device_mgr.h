#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "device_records.h"

class Chassis;
class CmdPacket;
class DataAggregator;
class NetworkConnection;
class StatusPacket;

// The one registry of the chassis the viewer talks to. A chassis id is the position of its
// address in the list given to connect; a chassis name is the address + ":7777". Records are
// kept by name, created on demand and never removed; status messages build them.
class DeviceMgr {
public:
    static constexpr std::uint32_t CHASSIS_PORT = 7777;

    static std::shared_ptr<DeviceMgr> GetInstance();

    // --- connections ---
    // One dispatcher (registered with the aggregator) and one started connection per address.
    // A repeated address is refused with a message; a second connect disconnects first.
    void connect(const std::vector<std::string>& addresses,
                 const std::shared_ptr<DataAggregator>& aggregator);
    // Stops every connection (never under the lock) and empties the id table.
    void disconnect();
    // Every chassis has a connected link and a complete system status (true with no chassis).
    bool allConnected();
    // (connected chassis, chassis count)
    std::pair<std::uint32_t, std::uint32_t> getActiveConnections();
    // Called by a connection thread when its link drops.
    void resetConnection(std::int32_t id);
    // Hands serialized command bytes to the chassis' connection.
    void queueCmd(std::int32_t id, std::string bytes);
    // Addresses of the chassis whose connection gave up for good (its first connect failed),
    // in chassis-id order: they will never connect.
    std::vector<std::string> getAbandonedAddresses();
    // Makes `connection` the link of chassis `id` at `address`, as connect does for each
    // address: for tools and tests that build their own links. A replaced connection is
    // stopped outside the lock.
    void attachConnection(std::int32_t id, const std::string& address,
                          std::shared_ptr<NetworkConnection> connection);

    // --- status messages and the model ---
    void updateStatus(const std::shared_ptr<StatusPacket>& message);
    // Decodes a StatusPacket and applies it whether or not decoding succeeded.
    void parseStatus(const std::uint8_t* data, std::int32_t length);
    std::vector<Channel> getAllChannels();
    std::vector<Channel> getChannels(std::uint32_t chassisId, std::uint32_t sensorId);
    std::vector<SensorInfo> getSensorInfo();
    std::vector<ChassisInfo> getChassisInfo();
    bool allVersionsEqual();

    // --- discovery ---
    // Records the chassis named in one discovery reply as the head of a one-chassis system.
    void parseDiscovery(const std::uint8_t* data, std::int32_t length);
    // The device list of every chassis that heads a system (system number 1), in name order.
    std::vector<std::vector<DeviceInfoStruct>> getDeviceInfo();
    std::vector<std::shared_ptr<Chassis>> getHosts();

    // --- commands; none returns a result, completions arrive as callbacks ---
    // Sends the difference between the current and the wanted channels of one sensor (0: the
    // chassis-level channels): removals first, then every wanted channel.
    void configureChannelList(std::uint32_t chassisId, std::uint32_t sensorId,
                              const std::vector<Channel>& wanted);
    void quickChannelConfig(std::uint32_t chassisId, const std::vector<std::uint32_t>& sensorIds,
                            const std::vector<std::uint32_t>& dataTypes, std::uint32_t freq);
    void setClosedLoop(bool on);
    void sendLogicCommand(const std::vector<SensorSelect>& selection, std::uint32_t logicType);
    void sendLogicInterruptCommand(const std::vector<SensorSelect>& selection,
                                   std::uint32_t interruptType);
    void sendUpdateStartCommand(const std::string& uri);
    void sendUpdateCommitCommand();
    void sendRawCmd(std::uint32_t chassisId, std::uint32_t sensorNum, std::uint32_t registerAddress,
                    std::uint32_t data);
    void sendOneTimeRead(std::uint32_t chassisId, std::uint32_t sensorNum,
                         std::uint32_t registerAddress);
    void setDevMode(bool enable, const std::string& password);

    // --- command replies ---
    void handleCmd(std::uint32_t chassisId, const std::shared_ptr<CmdPacket>& packet);

private:
    DeviceMgr() = default;

    // All called with _mutex held.
    std::shared_ptr<Chassis> _getAndInsertChassis(const std::string& name);
    std::shared_ptr<Chassis> _getChassisById(std::int32_t id);
    std::shared_ptr<Chassis> _getChassisByName(const std::string& name);
    void _setChassisIdToName(const std::map<std::int32_t, std::string>& idToName);
    std::uint32_t _getNumConnections() const;
    void _updateWaitingOnClosedLoop();
    void _updateWaitingOnDevMode();
    void _updateSystemStatus(const StatusPacket& message);
    void _updateChassisStatus(const StatusPacket& message);
    void _updateSensorStatus(const StatusPacket& message);
    void _updateSensorState(const StatusPacket& message, std::vector<SensorError>& errors);
    void _updateSensorConfig(const StatusPacket& message);
    void _updateSensorFields(const StatusPacket& message);
    void _updateSensorLed(const StatusPacket& message);
    void _updateAgents();

    static std::shared_ptr<DeviceMgr> _singleton;

    // The registry lock; guards every field below. Lock order: _mutex before a connection's
    // queue lock. Released before callbacks, before commands are queued back through the
    // registry, and before a connection is stopped (stopping joins a thread that may be
    // waiting for this lock).
    std::mutex _mutex;
    std::map<std::string, std::shared_ptr<Chassis>> _chassisByName;
    std::map<std::int32_t, std::string> _chassisIdToName;
    std::set<std::uint32_t> _waitingOnClosedLoop;
    bool _closedLoop = false;
    bool _adoptClosedLoop = false;
    std::set<std::uint32_t> _waitingOnDevMode;
    bool _devMode = false;
};
