#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device_records.h"
#include "sensor_card.h"

class NetworkConnection;

// One chassis as its status messages describe it: identity, place in a multi-chassis system,
// slots with sensor cards and the configured channels. Owned by the registry and only touched
// under the registry lock.
class Chassis {
public:
    explicit Chassis(std::string name);

    const std::string& getName() const { return _name; }
    // The address part of the name ("127.0.5.5" of "127.0.5.5:7777").
    const std::string& getIP() const { return _ip; }

    void setHost(const std::string& host) { _host = host; }
    const std::string& getHost() const { return _host; }
    void setSerial(const std::string& serial) { _serial = serial; }
    const std::string& getSerial() const { return _serial; }
    void setSerialShort(const std::string& serial) { _serialShort = serial; }
    const std::string& getSerialShort() const { return _serialShort; }
    void setVersion(const std::string& version) { _version = version; }
    const std::string& getVersion() const { return _version; }
    void setClosedLoop(bool on) { _closedLoop = on; }
    bool getClosedLoop() const { return _closedLoop; }
    void setSystemStatus(std::uint32_t status) { _systemStatus = status; }
    std::uint32_t getSystemStatus() const { return _systemStatus; }

    void setCompleteSystemStatus() { _completeSystemStatus = true; }
    bool hasCompleteSystemStatus() const { return _completeSystemStatus; }
    void resetConnection() { _completeSystemStatus = false; }

    // Stores the connection and clears the complete-status mark.
    void setConnection(std::shared_ptr<NetworkConnection> connection);
    std::shared_ptr<NetworkConnection> getConnection() const { return _connection; }
    // A connection object is stored, whatever the state of its link.
    bool isConnected() const { return _connection != nullptr; }

    void setNum(std::int32_t num, std::int32_t total);
    std::int32_t getNum() const { return _num; }
    std::int32_t getTotal() const { return _total; }
    void setAgent(const std::shared_ptr<Chassis>& agent);

    void setSlots(std::uint32_t count);
    std::uint32_t getNumSlots() const { return static_cast<std::uint32_t>(_sensors.size()); }
    // The card in `slot` (created or replaced as needed), or empty for a slot outside the list.
    std::shared_ptr<SensorCard> addSensorCard(std::uint32_t slot, const std::string& serialShort);
    // The non-empty slots, in slot order.
    std::vector<std::shared_ptr<SensorCard>> getSensors() const;
    // The card in `slot`, or empty (slot 0, beyond the list, or no card).
    std::shared_ptr<SensorCard> getSensor(std::uint32_t slot) const;

    std::uint32_t getNumChannels() const { return static_cast<std::uint32_t>(_channels.size()); }
    std::vector<Channel> getChannels() const { return _channels; }
    void updateChannels(std::vector<Channel> channels);
    bool hasChannel(std::uint32_t datatype) const { return _channelTypes.count(datatype) != 0; }

    // This chassis first, then one entry per agent slot (empty strings for an empty slot).
    std::vector<std::string> getNameList() const;
    std::vector<std::string> getIpList() const;
    std::vector<DeviceInfoStruct> getDeviceList() const;

private:
    std::string _name;
    std::string _ip;
    std::string _host;
    std::string _serial;
    std::string _serialShort;
    std::int32_t _num = 0;
    std::int32_t _total = 0;
    std::string _version;
    std::shared_ptr<NetworkConnection> _connection;
    std::vector<std::shared_ptr<Chassis>> _agents;
    std::vector<std::shared_ptr<SensorCard>> _sensors;
    bool _completeSystemStatus = false;
    std::vector<Channel> _channels;
    std::set<std::uint32_t> _channelTypes;
    bool _closedLoop = false;
    std::uint32_t _systemStatus = 0;
};
