#include "data_packet_encoder.h"

#include <algorithm>

#include "frame_codec.h"
#include "signal_generator.h"

namespace chassis_sim {

namespace {

std::size_t varintSize(std::uint64_t value) {
    std::size_t size = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++size;
    }
    return size;
}

// An int32 field holding `value` reinterpreted as int32: negative numbers are sign-extended
// to 64 bits on the wire and so always take ten bytes.
std::size_t int32FieldValueSize(std::uint32_t value) {
    const auto asSigned = static_cast<std::int32_t>(value);
    return asSigned < 0 ? 10 : varintSize(static_cast<std::uint64_t>(asSigned));
}

constexpr std::size_t kTag = 1;  // every field number here is below 16

}  // namespace

std::size_t DataPacketEncoder::worstCaseSize(std::size_t nameLength, std::uint32_t numSensors,
                                             const ChannelList& channels) {
    std::size_t size = kTag + varintSize(0xFFFFFFFFu);   // timestamp
    size += kTag + varintSize(nameLength) + nameLength;  // chassis_name
    size += kTag + int32FieldValueSize(numSensors);      // num_sensors
    for (const SimChannel& channel : channels) {
        const std::size_t frame = kTag + int32FieldValueSize(channel.sensor) + kTag +
                                  int32FieldValueSize(channel.datatype) + kTag +
                                  10;  // val, negative
        size += kTag + varintSize(frame) + frame;
    }
    return size;
}

std::size_t worstCaseDataPacketSize(const SimConfig& config) {
    std::size_t nameLength = 0;
    const std::string port = ":" + std::to_string(config.port);
    for (const std::string& address : config.addresses) {
        nameLength = std::max(nameLength, address.size() + port.size());
    }
    return DataPacketEncoder::worstCaseSize(nameLength, config.sensors,
                                            ChassisState::initialChannels(config));
}

DataPacketEncoder::DataPacketEncoder(const std::string& chassisName, std::uint32_t numSensors,
                                     const SignalGenerator& signal, const ChannelList& channels)
    : _signal(signal) {
    _packet.set_chassis_name(chassisName);
    _packet.set_num_sensors(static_cast<std::int32_t>(numSensors));
    setChannels(channels);
}

void DataPacketEncoder::setChannels(const ChannelList& channels) {
    _packet.clear_data();
    for (const SimChannel& channel : channels) {
        DataFrame* frame = _packet.add_data();
        frame->set_sensor(static_cast<std::int32_t>(channel.sensor));
        frame->set_datatype(static_cast<std::int32_t>(channel.datatype));
        frame->set_val(0);
    }
}

void DataPacketEncoder::appendFrame(std::string& out, std::uint32_t timestamp) {
    _packet.set_timestamp(timestamp);
    for (DataFrame& frame : *_packet.mutable_data()) {
        frame.set_val(_signal.value(static_cast<std::uint32_t>(frame.sensor()),
                                    static_cast<std::uint32_t>(frame.datatype()), timestamp));
    }
    _payload.clear();
    _packet.SerializePartialToString(&_payload);
    ::appendFrame(out, DATA_PACKET, _payload);
}

}  // namespace chassis_sim
