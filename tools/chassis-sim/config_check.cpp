#include "config_check.h"

#include <arpa/inet.h>

#include <cstdint>
#include <limits>
#include <set>

#include "chassis_messages.h"
#include "chassis_state.h"
#include "frame_codec.h"

namespace chassis_sim {

namespace {

bool parseIpv4(const std::string& address, in_addr& out) {
    return inet_pton(AF_INET, address.c_str(), &out) == 1;
}

}  // namespace

bool isLoopbackAddress(const std::string& address) {
    in_addr parsed{};
    return parseIpv4(address, parsed) && (ntohl(parsed.s_addr) >> 24) == 127;
}

std::string checkConfig(const SimConfig& config) {
    if (config.addresses.empty()) {
        return "no chassis address given";
    }
    std::set<std::string> seen;
    for (const std::string& address : config.addresses) {
        in_addr parsed{};
        if (!parseIpv4(address, parsed)) {
            return "address '" + address + "' is not a dotted IPv4 address";
        }
        if (!config.allowNonLoopback && !isLoopbackAddress(address)) {
            return "address " + address +
                   " is outside 127.0.0.0/8; refused unless non-loopback addresses are allowed";
        }
        if (!seen.insert(address).second) {
            return "address " + address + " is given twice";
        }
    }
    if (config.port == 0) {
        return "port 0 cannot be served (the viewer connects to a fixed port)";
    }
    if (config.slots == 0) {
        return "a chassis needs at least one slot";
    }
    if (config.sensors > config.slots) {
        return std::to_string(config.sensors) + " sensors do not fit " +
               std::to_string(config.slots) + " slots";
    }
    if (config.dataTypes.empty()) {
        return "no data type given";
    }
    std::set<std::uint32_t> types;
    for (std::uint32_t type : config.dataTypes) {
        if (type > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
            return "data type " + std::to_string(type) + " does not fit the 32-bit signed field";
        }
        if (!types.insert(type).second) {
            return "data type " + std::to_string(type) + " is given twice";
        }
    }
    if (config.timestampOffsets.size() > config.addresses.size()) {
        return std::to_string(config.timestampOffsets.size()) + " timestamp offsets given for " +
               std::to_string(config.addresses.size()) + " chassis";
    }
    if (config.mainsHz != 50 && config.mainsHz != 60) {
        return "mains frequency must be 50 or 60 Hz, not " + std::to_string(config.mainsHz);
    }
    if (config.stepInterval.count() < 0) {
        return "the step interval cannot be negative";
    }
    const std::size_t dataSize = worstCaseDataPacketSize(config);
    if (dataSize > MAX_RECEIVE_PAYLOAD) {
        return "a data packet of " + std::to_string(config.sensors) + " sensors x " +
               std::to_string(config.dataTypes.size()) + " data types can take " +
               std::to_string(dataSize) + " bytes, above the 2048-byte frame limit";
    }
    for (std::size_t index = 0; index < config.addresses.size(); ++index) {
        const ChassisState state(config, static_cast<std::uint32_t>(index));
        // Card states, fields and LEDs may follow in messages of their own; the rest must fit.
        const std::size_t statusSize = ChassisMessages(config, index).completeStatusCoreSize(state);
        if (statusSize > MAX_RECEIVE_PAYLOAD) {
            return "the complete status of " + config.addresses[index] + " takes " +
                   std::to_string(statusSize) + " bytes, above the 2048-byte frame limit";
        }
    }
    return {};
}

}  // namespace chassis_sim
