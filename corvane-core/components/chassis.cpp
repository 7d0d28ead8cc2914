#include "chassis.h"

#include <cstddef>
#include <utility>

#include "log_line.h"

namespace {

// The address part of a chassis name: the first non-empty piece between ':' separators, so
// "127.0.5.5:7777" gives "127.0.5.5" and a name without ':' is taken whole.
std::string addressOf(const std::string& name) {
    std::size_t start = 0;
    while (start < name.size()) {
        const std::size_t end = name.find(':', start);
        const std::size_t stop = end == std::string::npos ? name.size() : end;
        if (stop > start) {
            return name.substr(start, stop - start);
        }
        start = stop + 1;
    }
    return {};
}

}  // namespace

Chassis::Chassis(std::string name) : _name(std::move(name)), _ip(addressOf(_name)) {}

void Chassis::setConnection(std::shared_ptr<NetworkConnection> connection) {
    _connection = std::move(connection);
    // A new link has to deliver its own complete status before the chassis counts as ready.
    _completeSystemStatus = false;
}

void Chassis::setNum(std::int32_t num, std::int32_t total) {
    if (num != _num || total != _total) {
        // Agents are linked by position; a new layout invalidates every link.
        _agents.clear();
        if (total > 1 && num == 1) {
            outLine("Total number of devices changed to " + std::to_string(total) + " for " +
                    _name);
            _agents.resize(static_cast<std::size_t>(total - 1));
        }
    }
    _num = num;
    _total = total;
}

void Chassis::setAgent(const std::shared_ptr<Chassis>& agent) {
    if (!agent) {
        return;
    }
    // Agents are numbered 2 ... total; widened so extreme numbers cannot overflow.
    const std::int64_t position = static_cast<std::int64_t>(agent->getNum()) - 2;
    if (position >= 0 && position < static_cast<std::int64_t>(_agents.size())) {
        _agents[static_cast<std::size_t>(position)] = agent;
    }
}

void Chassis::setSlots(std::uint32_t count) {
    if (!_sensors.empty() && _sensors.size() != count) {
        // Cards are kept by slot position, which no longer means the same thing.
        errLine("Previous slot count not same as new");
        _sensors.clear();
    }
    if (_sensors.empty()) {
        outLine("Settings " + std::to_string(count) + " slots");
        _sensors.resize(count);
    }
}

std::shared_ptr<SensorCard> Chassis::addSensorCard(std::uint32_t slot,
                                                   const std::string& serialShort) {
    if (slot == 0 || slot > _sensors.size()) {
        errLine("Unable to set sensor ID " + std::to_string(slot) + " with number of slots " +
                std::to_string(_sensors.size()));
        return {};
    }
    std::shared_ptr<SensorCard>& card = _sensors[slot - 1];
    if (card && card->getSerialShort() != serialShort) {
        // Another card was put in the slot: nothing of the old card's state applies to it.
        errLine("New serial of " + serialShort + " does not match existing " +
                card->getSerialShort());
        card.reset();
    }
    if (!card) {
        card = std::make_shared<SensorCard>(slot, serialShort);
    }
    return card;
}

std::vector<std::shared_ptr<SensorCard>> Chassis::getSensors() const {
    std::vector<std::shared_ptr<SensorCard>> cards;
    for (const auto& card : _sensors) {
        if (card) {
            cards.push_back(card);
        }
    }
    return cards;
}

std::shared_ptr<SensorCard> Chassis::getSensor(std::uint32_t slot) const {
    if (slot == 0 || slot > _sensors.size()) {
        return {};
    }
    return _sensors[slot - 1];
}

void Chassis::updateChannels(std::vector<Channel> channels) {
    _channels = std::move(channels);
    _channelTypes.clear();
    for (const Channel& channel : _channels) {
        _channelTypes.insert(channel.datatype);
    }
}

std::vector<std::string> Chassis::getNameList() const {
    std::vector<std::string> names{_name};
    for (const auto& agent : _agents) {
        names.push_back(agent ? agent->getName() : std::string());
    }
    return names;
}

std::vector<std::string> Chassis::getIpList() const {
    std::vector<std::string> addresses{_ip};
    for (const auto& agent : _agents) {
        addresses.push_back(agent ? agent->getIP() : std::string());
    }
    return addresses;
}

std::vector<DeviceInfoStruct> Chassis::getDeviceList() const {
    std::vector<DeviceInfoStruct> devices{DeviceInfoStruct(_name, _ip)};
    for (const auto& agent : _agents) {
        devices.push_back(agent ? DeviceInfoStruct(agent->getName(), agent->getIP())
                                : DeviceInfoStruct({}, {}));
    }
    return devices;
}
