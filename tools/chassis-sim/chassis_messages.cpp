#include "chassis_messages.h"

#include <cstdio>

#include "frame_codec.h"
#include "net-protocol.pb.h"
#include "signal_generator.h"

namespace chassis_sim {

namespace {

constexpr const char* kSensorVersion = "2.1";

using AddEntry = void (*)(StatusPacket&, std::uint32_t, const SensorCondition&);

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
StatusPacket base(const std::string& name, std::uint32_t sensors, const ChassisState& state,
                  StatusPacket::EnumStatusType type) {
    StatusPacket packet;
    packet.set_chassis_name(name);
    packet.set_type(type);
    packet.set_num_sensors(sensors);
    packet.set_version(state.version());
    packet.set_status(state.systemStatus());
    return packet;
}

void addState(StatusPacket& packet, std::uint32_t id, const SensorCondition& card) {
    SensorState* state = packet.add_sensor_state();
    state->set_sensor_id(id);
    state->set_state(reportedState(card));
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

// `empty` with an entry per id added by `add`, cut into messages that fit a frame. Entries of
// a repeated field add up, so each entry's share is measured once on a message of its own.
std::vector<std::string> splitEntries(const StatusPacket& empty, const ChassisState& state,
                                      const std::vector<std::uint32_t>& ids, AddEntry add) {
    std::vector<std::string> payloads;
    const std::size_t emptySize = empty.ByteSizeLong();
    StatusPacket packet = empty;
    std::size_t size = emptySize;
    for (const std::uint32_t id : ids) {
        StatusPacket alone = empty;
        add(alone, id, state.sensor(id));
        const std::size_t entry = alone.ByteSizeLong() - emptySize;
        if (size > emptySize && size + entry > MAX_RECEIVE_PAYLOAD) {
            payloads.push_back(serialized(packet));
            packet = empty;
            size = emptySize;
        }
        add(packet, id, state.sensor(id));
        size += entry;
    }
    if (size > emptySize) {
        payloads.push_back(serialized(packet));
    }
    return payloads;
}

std::vector<std::uint32_t> everyCard(const ChassisState& state) {
    std::vector<std::uint32_t> ids;
    for (std::uint32_t id = 1; id <= state.sensorCount(); ++id) {
        ids.push_back(id);
    }
    return ids;
}

// The part of the complete status the viewer needs in that one message.
StatusPacket completeCore(const std::string& name, std::uint32_t sensors, std::size_t index,
                          std::uint32_t total, std::uint32_t slots, const ChassisState& state) {
    StatusPacket complete = base(name, sensors, state, StatusPacket::COMPLETE_SYSTEM_STATUS);

    SystemStatusMessage* system = complete.mutable_system_status();
    system->set_num(static_cast<std::uint32_t>(index + 1));
    system->set_total(total);
    system->set_version(state.version());
    // Every chassis, the host included, names the host's serial as master: that is how the
    // viewer links agents to their host.
    system->set_master(ChassisMessages::serialOf(0));
    system->set_serial(ChassisMessages::serialOf(index));
    system->set_serial_short("CH" + std::to_string(index + 1));
    system->set_num_slots(slots);

    complete.mutable_chassis_status()->set_closed_loop(state.closedLoop());

    for (std::uint32_t id = 1; id <= state.sensorCount(); ++id) {
        SensorStatus* card = complete.add_sensor_status();
        card->set_sensor_id(id);
        card->set_sensor_card_serial_num(numbered("SC", index, id));
        card->set_sensor_version(kSensorVersion);
        card->set_sensor_connected(true);
        card->set_sensor_serial_num(numbered("SN", index, id));
    }
    addChannels(complete, *state.channels());
    return complete;
}

}  // namespace

std::string statusFrames(const std::vector<std::string>& payloads) {
    std::string bytes;
    for (const std::string& payload : payloads) {
        appendFrame(bytes, STATUS_PACKET, payload);
    }
    return bytes;
}

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

std::vector<std::string> ChassisMessages::completeStatus(const ChassisState& state) const {
    const StatusPacket core = completeCore(_name, _sensors, _index, _total, _slots, state);
    StatusPacket full = core;
    for (std::uint32_t id = 1; id <= state.sensorCount(); ++id) {
        addState(full, id, state.sensor(id));
        addField(full, id, state.sensor(id));
        addLed(full, id, state.sensor(id));
    }
    if (full.ByteSizeLong() <= MAX_RECEIVE_PAYLOAD) {
        return {serialized(full)};
    }
    std::vector<std::string> payloads = {serialized(core)};
    for (std::string& report : cardReports(state)) {
        payloads.push_back(std::move(report));
    }
    return payloads;
}

std::size_t ChassisMessages::completeStatusCoreSize(const ChassisState& state) const {
    ChassisState longest = state;
    longest.setVersion(ChassisState::UPDATED_VERSION);
    return completeCore(_name, _sensors, _index, _total, _slots, longest).ByteSizeLong();
}

std::vector<std::string> ChassisMessages::cardReports(const ChassisState& state) const {
    const std::vector<std::uint32_t> ids = everyCard(state);
    std::vector<std::string> payloads = sensorStates(state, ids);
    for (auto [type, add] : {std::pair{StatusPacket::SENSOR_FIELD, &addField},
                             std::pair{StatusPacket::SENSOR_LED, &addLed}}) {
        for (std::string& payload :
             splitEntries(base(_name, _sensors, state, type), state, ids, add)) {
            payloads.push_back(std::move(payload));
        }
    }
    return payloads;
}

std::vector<std::string> ChassisMessages::sensorStates(
    const ChassisState& state, const std::vector<std::uint32_t>& ids) const {
    return splitEntries(base(_name, _sensors, state, StatusPacket::SENSOR_STATE), state, ids,
                        &addState);
}

std::string ChassisMessages::status(const ChassisState& state) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::STATUS);
    packet.mutable_chassis_status()->set_closed_loop(state.closedLoop());
    return serialized(packet);
}

std::string ChassisMessages::sensorConfig(const ChassisState& state) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::SENSOR_CONFIG);
    addChannels(packet, *state.channels());
    return serialized(packet);
}

std::string ChassisMessages::sensorState(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::SENSOR_STATE);
    addState(packet, id, state.sensor(id));
    // The viewer reports an error for every entry carrying flags, so a cleared error says 0.
    packet.mutable_sensor_state(0)->set_error_flags(state.sensor(id).errorFlags);
    return serialized(packet);
}

std::string ChassisMessages::sensorField(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::SENSOR_FIELD);
    addField(packet, id, state.sensor(id));
    return serialized(packet);
}

std::string ChassisMessages::sensorLed(const ChassisState& state, std::uint32_t id) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::SENSOR_LED);
    addLed(packet, id, state.sensor(id));
    return serialized(packet);
}

std::string ChassisMessages::progress(const ChassisState& state, std::uint32_t percent,
                                      const std::string& text) const {
    StatusPacket packet = base(_name, _sensors, state, StatusPacket::PROGRESS);
    packet.set_progress(percent);
    packet.set_progress_msg(text);
    return serialized(packet);
}

}  // namespace chassis_sim
