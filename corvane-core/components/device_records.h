#pragma once

// Flat, copyable records handed out by the device registry. Queries return copies of these,
// never references into the registry's own records.

#include <cstdint>
#include <string>
#include <utility>

// One configured acquisition channel.
struct Channel {
    Channel(std::uint32_t sensorId, std::uint32_t dataType) : sId(sensorId), datatype(dataType) {}

    std::int32_t cId = -1;  // chassis id; stamped by the registry's queries
    std::uint32_t sId;      // slot number 1, 2, ...; 0 for a chassis-level channel
    std::uint32_t datatype;
    std::uint32_t freq = 1000;
    float calibration = 0.0f;  // scales raw sample values

    bool operator==(const Channel&) const = default;
};

// One requested channel configuration; a freq of 0 asks the chassis to remove the channel.
struct ChannelConfig {
    ChannelConfig(std::uint32_t sensor, std::uint32_t dataType, std::uint32_t frequency)
        : sensorId(sensor), datatype(dataType), freq(frequency) {}

    std::uint32_t sensorId;
    std::uint32_t datatype;
    std::uint32_t freq;

    bool operator==(const ChannelConfig&) const = default;
};

// Description of a chassis (sId 0) or of one sensor card.
struct SensorInfo {
    SensorInfo(std::uint32_t chassisId, std::uint32_t sensorId, std::uint32_t channels,
               std::string serialText)
        : cId(chassisId), sId(sensorId), numChannels(channels), serial(std::move(serialText)) {}

    void setFieldX(float value) {
        hasFieldX = true;
        fieldX = value;
    }
    void setFieldY(float value) {
        hasFieldY = true;
        fieldY = value;
    }
    void setFieldZ(float value) {
        hasFieldZ = true;
        fieldZ = value;
    }

    std::uint32_t cId;
    std::uint32_t sId;
    std::uint32_t numChannels;
    std::string serial;
    bool hasFieldX = false;
    bool hasFieldY = false;
    bool hasFieldZ = false;
    float fieldX = 0.0f;
    float fieldY = 0.0f;
    float fieldZ = 0.0f;
    std::uint32_t ledBlinkState = 0;
    std::uint32_t ledColor = 0;
};

struct ChassisInfo {
    ChassisInfo(std::uint32_t chassisId, std::string chassisName)
        : id(chassisId), name(std::move(chassisName)) {}

    std::uint32_t id;
    std::string version;
    std::string name;
};

struct SensorError {
    SensorError(std::string chassis, std::uint32_t sensor, std::uint32_t flags)
        : chassisName(std::move(chassis)), sensorId(sensor), errorFlags(flags) {}

    std::string chassisName;
    std::uint32_t sensorId;
    std::uint32_t errorFlags;  // bit mask as reported by the chassis
};

// One chassis of a system: its name and address.
struct DeviceInfoStruct {
    DeviceInfoStruct(std::string deviceName, std::string address)
        : name(std::move(deviceName)), ip(std::move(address)) {}

    std::string name;
    std::string ip;

    bool operator==(const DeviceInfoStruct&) const = default;
};

// One selected sensor of a logic command.
struct SensorSelect {
    std::uint32_t cId;
    std::uint32_t sId;
};
