#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "device_records.h"

// The sensor card in one slot of a chassis. Lives inside the registry's records and is only
// touched under the registry lock.
class SensorCard {
public:
    SensorCard(std::uint32_t slot, std::string serialShort);

    std::uint32_t getId() const { return _id; }
    const std::string& getSerialShort() const { return _serialShort; }
    void setVersion(const std::string& version) { _version = version; }
    const std::string& getVersion() const { return _version; }

    void setSensorConnected(const std::string& sensorSerial);
    // Clears the sensor and marks all three field components absent.
    void setSensorDisconnected();
    bool isSensorConnected() const { return _sensorConnected; }
    const std::string& getSensorSerial() const { return _sensorSerial; }

    std::uint32_t getNumChannels() const { return static_cast<std::uint32_t>(_channels.size()); }
    std::vector<Channel> getChannels() const { return _channels; }
    void updateChannels(std::vector<Channel> channels);
    bool hasChannel(std::uint32_t datatype) const { return _channelTypes.count(datatype) != 0; }

    // Store the flag, and the value when known (0 otherwise).
    void setFieldX(bool known, float value);
    void setFieldY(bool known, float value);
    void setFieldZ(bool known, float value);
    bool hasFieldX() const { return _hasFieldX; }
    bool hasFieldY() const { return _hasFieldY; }
    bool hasFieldZ() const { return _hasFieldZ; }
    float getFieldX() const { return _fieldX; }
    float getFieldY() const { return _fieldY; }
    float getFieldZ() const { return _fieldZ; }

    void setLed(std::uint32_t blinkState, std::uint32_t color);
    std::uint32_t getLedBlinkState() const { return _ledBlinkState; }
    std::uint32_t getLedColor() const { return _ledColor; }

private:
    std::uint32_t _id;
    std::string _serialShort;
    std::string _version;
    bool _sensorConnected = false;
    std::string _sensorSerial;
    std::vector<Channel> _channels;
    std::set<std::uint32_t> _channelTypes;
    bool _hasFieldX = false;
    float _fieldX = 0.0f;
    bool _hasFieldY = false;
    float _fieldY = 0.0f;
    bool _hasFieldZ = false;
    float _fieldZ = 0.0f;
    std::uint32_t _ledBlinkState = 0;
    std::uint32_t _ledColor = 0;
};
