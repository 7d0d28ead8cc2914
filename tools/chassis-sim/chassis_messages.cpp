#include "chassis_messages.h"

#include <cstdio>

#include "net-protocol.pb.h"
#include "signal_generator.h"

namespace chassis_sim {

namespace {

constexpr const char* kVersion = "1.4.2-sim";
constexpr const char* kSensorVersion = "2.1";
constexpr std::uint32_t kSampleRate = 1000;

std::string numbered(const char* prefix, std::size_t chassis, std::uint32_t slot) {
    char text[48];
    std::snprintf(text, sizeof text, "%s%02zu%03u", prefix, chassis + 1, slot);
    return text;
}

void setCommonFields(StatusPacket& packet, const std::string& name, std::uint32_t sensors) {
    packet.set_chassis_name(name);
    packet.set_num_sensors(sensors);
    packet.set_version(kVersion);
    packet.set_status(StatusPacket::RUNNING);
}

}  // namespace

std::string ChassisMessages::serialOf(std::size_t index) {
    char text[32];
    std::snprintf(text, sizeof text, "SIMCH-%04zu", index + 1);
    return text;
}

ChassisMessages::ChassisMessages(const SimConfig& config, std::size_t index)
    : _name(config.addresses.at(index) + ":" + std::to_string(config.port)) {
    StatusPacket complete;
    setCommonFields(complete, _name, config.sensors);
    complete.set_type(StatusPacket::COMPLETE_SYSTEM_STATUS);

    SystemStatusMessage* system = complete.mutable_system_status();
    system->set_num(static_cast<std::uint32_t>(index + 1));
    system->set_total(static_cast<std::uint32_t>(config.addresses.size()));
    system->set_version(kVersion);
    system->set_master(serialOf(0));
    system->set_serial(serialOf(index));
    system->set_serial_short("CH" + std::to_string(index + 1));
    system->set_num_slots(config.slots);

    complete.mutable_chassis_status()->set_closed_loop(false);

    // Cards sit in slots 1 .. sensors; the slot number is the sensor id.
    for (std::uint32_t slot = 1; slot <= config.sensors; ++slot) {
        SensorStatus* card = complete.add_sensor_status();
        card->set_sensor_id(slot);
        card->set_sensor_card_serial_num(numbered("SC", index, slot));
        card->set_sensor_version(kSensorVersion);
        card->set_sensor_connected(true);
        card->set_sensor_serial_num(numbered("SN", index, slot));
    }
    for (std::uint32_t slot = 1; slot <= config.sensors; ++slot) {
        for (std::uint32_t type : config.dataTypes) {
            SensorConfig* channel = complete.add_sensor_config();
            channel->set_sensor(slot);
            channel->set_datatype(type);
            channel->set_freq(kSampleRate);
            channel->set_calibration(SignalGenerator::calibration(type));
        }
    }
    complete.SerializePartialToString(&_completeStatus);

    StatusPacket status;
    setCommonFields(status, _name, config.sensors);
    status.set_type(StatusPacket::STATUS);
    status.SerializePartialToString(&_status);
}

}  // namespace chassis_sim
