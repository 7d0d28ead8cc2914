#include "chassis_state.h"

#include <algorithm>

namespace chassis_sim {

namespace {

// A spread of -10 .. 10 steps from a cheap mix of card and chassis, so neighbouring cards
// report visibly different but stable residual fields.
float fieldSteps(std::uint32_t sensor, std::uint32_t chassis, std::uint32_t a, std::uint32_t b) {
    return static_cast<float>(static_cast<int>((sensor * a + chassis * b + 3) % 21) - 10);
}

}  // namespace

SensorState::EnumStateType reportedState(const SensorCondition& card) {
    return card.errorFlags != 0 && card.state == SensorState::READY ? SensorState::ERROR
                                                                    : card.state;
}

ChassisState::ChassisState(const SimConfig& config, std::uint32_t chassisIndex)
    : _channels(std::make_shared<const ChannelList>(initialChannels(config))),
      _sensors(config.sensors) {
    for (std::uint32_t id = 1; id <= config.sensors; ++id) {
        SensorCondition& card = sensor(id);
        card.fieldX = 0.05f * fieldSteps(id, chassisIndex, 7, 13);
        card.fieldY = 0.05f * fieldSteps(id, chassisIndex, 11, 5);
        card.fieldZ = 0.1f * fieldSteps(id, chassisIndex, 5, 3);
        card.ledBlinkState = DEFAULT_LED_BLINK;
        card.ledColor = DEFAULT_LED_COLOR;
    }
}

ChannelList ChassisState::initialChannels(const SimConfig& config) {
    ChannelList channels;
    channels.reserve(static_cast<std::size_t>(config.sensors) * config.dataTypes.size());
    for (std::uint32_t sensor = 1; sensor <= config.sensors; ++sensor) {
        for (std::uint32_t type : config.dataTypes) {
            channels.push_back({sensor, type, DEFAULT_RATE});
        }
    }
    return channels;
}

ChannelList ChassisState::withEntry(const ChannelList& channels, const SimChannel& entry) {
    ChannelList result = channels;
    const auto same = std::find_if(result.begin(), result.end(), [&](const SimChannel& c) {
        return c.sensor == entry.sensor && c.datatype == entry.datatype;
    });
    if (entry.freq == 0) {
        if (same != result.end()) {
            result.erase(same);
        }
        return result;
    }
    if (same != result.end()) {
        same->freq = entry.freq;
        return result;
    }
    const auto after = std::find_if(result.begin(), result.end(),
                                    [&](const SimChannel& c) { return c.sensor > entry.sensor; });
    result.insert(after, entry);
    return result;
}

void ChassisState::setChannels(ChannelList channels) {
    _channels = std::make_shared<const ChannelList>(std::move(channels));
}

}  // namespace chassis_sim
