#include "sensor_card.h"

#include <utility>

SensorCard::SensorCard(std::uint32_t slot, std::string serialShort)
    : _id(slot), _serialShort(std::move(serialShort)) {}

void SensorCard::setSensorConnected(const std::string& sensorSerial) {
    _sensorConnected = true;
    _sensorSerial = sensorSerial;
}

void SensorCard::setSensorDisconnected() {
    _sensorConnected = false;
    _sensorSerial.clear();
    // Field readings belong to the sensor that is gone; stale values must not be shown.
    setFieldX(false, 0.0f);
    setFieldY(false, 0.0f);
    setFieldZ(false, 0.0f);
}

void SensorCard::updateChannels(std::vector<Channel> channels) {
    _channels = std::move(channels);
    _channelTypes.clear();
    for (const Channel& channel : _channels) {
        _channelTypes.insert(channel.datatype);
    }
}

void SensorCard::setFieldX(bool known, float value) {
    _hasFieldX = known;
    _fieldX = known ? value : 0.0f;
}

void SensorCard::setFieldY(bool known, float value) {
    _hasFieldY = known;
    _fieldY = known ? value : 0.0f;
}

void SensorCard::setFieldZ(bool known, float value) {
    _hasFieldZ = known;
    _fieldZ = known ? value : 0.0f;
}

void SensorCard::setLed(std::uint32_t blinkState, std::uint32_t color) {
    _ledBlinkState = blinkState;
    _ledColor = color;
}
