#include "chassis_messages.h"

#include <cstdio>

#include "net-protocol.pb.h"
#include "signal_generator.h"

namespace chassis_sim {

namespace {

constexpr const char* kVersion = "1.4.2-sim";
constexpr const char* kSensorVersion = "2.1";

std::string numbered(const char* prefix, std::size_t chassis, std::uint32_t slot) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%02zu%03u", prefix, chassis + 1, slot);
    return text;
}

std::string serialized(const StatusPacket& packet) {
    std::string payload;
    packet.SerializePartialToString(&payload);
    return payload;
}

// The skeleton every status message shares.
StatusPacket base(const std::string& name, std::uint32_t sensors,
                  StatusPacket::EnumStatusType type) {
    StatusPacket packet;
    packet.set_chassis_name(name);
    packet.set_type(type);
    packet.set_num_sensors(sensors);
    packet.set_version(kVersion);
    packet.set_status(StatusPacket::RUNNING);
    return packet;
}

void addState(StatusPacket& packet, std::uint32_t id, const SensorCondition& card) {
    SensorState* state = packet.add_sensor_state();
    state->set_sensor_id(id);
    state->set_state(card.errorFlags != 0 ? SensorState::ERROR : SensorState::READY);
    if (card.errorFlags != 0) {
        state->set_error_flags(card.errorFlags);
    }
}

void addField(StatusPacket& packet, std::uint32_t id, const SensorCondition& card) {
    SensorField* field = packet.add_sensor_field();
    field->set_sensor_id(id);
    field->set_field_x(card.fieldX);
    field->set_field_y(card.fieldY);
    field->set_field_z(card.fieldZ);
}

void addLed(StatusPacket& packet, std::uint32_t id, const SensorCondition& card) {
    SensorLed* led = packet.add_sensor_led();
    led->set_sensor_id(id);
    led->set_blink_state(card.ledBlinkState);
    led->set_color(card.ledColor);
}

void addChannels(StatusPacket& packet, const ChannelList& channels) {
    for (const SimChannel& channel : channels) {
        SensorConfig* entry = packet.add_sensor_config();
        entry->set_sensor(channel.sensor);
        entry->set_datatype(channel.datatype);
        entry->set_freq(channel.freq);
        entry->set_calibration(SignalGenerator::calibration(channel.datatype));
    }
}

}  // namespace

std::string ChassisMessages::serialOf(std::size_t index) {
    char text[32];
    std::snprintf(text, sizeof text, "SIMCH-%04zu", index + 1);
    return text;
}

ChassisMessages::ChassisMessages(const SimConfig& config, std::size_t index)
    : _name(config.addresses.at(index) + ":" + std::to_string(config.port)),
      _index(index),
      _total(static_cast<std::uint32_t>(config.addresses.size())),
      _slots(config.slots),
      _sensors(config.sensors) {}

std::string ChassisMessages::completeStatus(const ChassisState& state) const {
    StatusPacket complete = base(_name, _sensors, StatusPacket::COMPLETE_SYSTEM_STATUS);

    SystemStatusMessage* system = complete.mutable_system_status();
    system->set_num(static_cast<std::uint32_t>(_index + 1));
    system->set_total(_total);
    system->set_version(kVersion);
    // Every chassis, the host included, names the host's serial as master: that is how the
    // viewer links agents to their host.
    system->set_master(serialOf(0));
    system->set_serial(serialOf(_index));
    system->set_serial_short("CH" + std::to_string(_index + 1));
    system->set_num_slots(_slots);

    complete.mutable_chassis_status()->set_closed_loop(state.closedLoop());

    for (std::uint32_t id = 1; id <= state.sensorCount(); ++id) {
        SensorStatus* card = complete.add_sensor_status();
        card->set_sensor_id(id);
        card->set_sensor_card_serial_num(numbered("SC", _index, id));
        card->set_sensor_version(kSensorVersion);
        card->set_sensor_connected(true);
        card->set_sensor_serial_num(numbered("SN", _index, id));
    }
    for (std::uint32_t id = 1; id <= state.sensorCount(); ++id) {
        addState(complete, id, state.sensor(id));
        addField(complete, id, state.sensor(id));
        addLed(complete, id, state.sensor(id));
    }
    addChannels(complete, *state.channels());
    return serialized(complete);
}

std::string ChassisMessages::status(const ChassisState& state) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::STATUS);
    packet.mutable_chassis_status()->set_closed_loop(state.closedLoop());
    return serialized(packet);
}

std::string ChassisMessages::sensorConfig(const ChassisState& state) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::SENSOR_CONFIG);
    addChannels(packet, *state.channels());
    return serialized(packet);
}

std::string ChassisMessages::sensorState(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::SENSOR_STATE);
    addState(packet, id, state.sensor(id));
    // The viewer reports an error for every entry carrying flags, so a cleared error says 0.
    packet.mutable_sensor_state(0)->set_error_flags(state.sensor(id).errorFlags);
    return serialized(packet);
}

std::string ChassisMessages::sensorField(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::SENSOR_FIELD);
    addField(packet, id, state.sensor(id));
    return serialized(packet);
}

std::string ChassisMessages::sensorLed(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::SENSOR_LED);
    addLed(packet, id, state.sensor(id));
    return serialized(packet);
}

std::string ChassisMessages::progress(std::uint32_t percent, const std::string& text) const {
    StatusPacket packet = base(_name, _sensors, StatusPacket::PROGRESS);
    packet.set_progress(percent);
    packet.set_progress_msg(text);
    return serialized(packet);
}

}  // namespace chassis_sim
