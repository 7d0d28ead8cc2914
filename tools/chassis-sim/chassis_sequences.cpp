#include "chassis_sequences.h"

#include <set>

#include "chassis_messages.h"
#include "log_line.h"

namespace chassis_sim {

namespace {

// Progress text beyond this many bytes of the URI is cut, so a PROGRESS always fits a frame.
constexpr std::size_t MAX_URI_SHOWN = 256;

std::vector<SensorState::EnumStateType> statesOf(LogicMessage::EnumLogicType type) {
    switch (type) {
        case LogicMessage::LOGIC_SENSOR_RESTART:
            return {SensorState::RESTART, SensorState::RESTART_COMPLETE, SensorState::READY};
        case LogicMessage::LOGIC_SENSOR_COARSE_ZERO:
            return {SensorState::COARSE_ZERO, SensorState::COARSE_ZERO_COMPLETE,
                    SensorState::READY};
        case LogicMessage::LOGIC_SENSOR_FINE_ZERO:
            return {SensorState::FINE_ZERO, SensorState::FINE_ZERO_COMPLETE, SensorState::READY};
        case LogicMessage::LOGIC_SENSOR_OFF:
            return {SensorState::OFF};
        case LogicMessage::LOGIC_SENSOR_IDLE:
            return {SensorState::IDLE};
        default:
            return {};  // stasis switches the field lock, not the state
    }
}

std::string idText(const std::vector<std::uint32_t>& ids) {
    std::string text;
    for (const std::uint32_t id : ids) {
        text += (text.empty() ? "" : " ") + std::to_string(id);
    }
    return text.empty() ? "none" : text;
}

}  // namespace

ChassisSequences::ChassisSequences(const SimConfig& config, const std::string& address,
                                   const ChassisMessages& messages, ChassisState& state)
    : _config(config), _address(address), _messages(messages), _state(state) {}

void ChassisSequences::note(const std::string& line) const {
    errLine(_address + ": " + line);
}

void ChassisSequences::log(const std::string& line) const {
    if (_config.log) {
        outLine(_address + ": " + line);
    }
}

std::vector<std::uint32_t> ChassisSequences::cards(
    const google::protobuf::RepeatedField<std::uint32_t>& ids, const char* command) const {
    std::vector<std::uint32_t> result;
    std::set<std::uint32_t> seen;
    for (const std::uint32_t id : ids) {
        if (!_state.hasSensor(id)) {
            note(std::string(command) + " for sensor " + std::to_string(id) +
                 " ignored: sensors are 1 to " + std::to_string(_state.sensorCount()));
        } else if (seen.insert(id).second) {
            result.push_back(id);
        }
    }
    return result;
}

std::string ChassisSequences::reportStates(const std::vector<std::uint32_t>& ids) const {
    return ids.empty() ? std::string() : statusFrames(_messages.sensorStates(_state, ids));
}

std::string ChassisSequences::startLogic(const LogicMessage& request, Clock::time_point now) {
    if (!request.has_type()) {
        note("LOGIC_REQ without a logic type ignored");
        return {};
    }
    const std::string name = LogicMessage::EnumLogicType_Name(request.type());
    const std::vector<std::uint32_t> ids = cards(request.sensor_list(), "LOGIC_REQ");
    const std::vector<SensorState::EnumStateType> states = statesOf(request.type());
    if (states.empty()) {
        log(name + " for sensors " + idText(ids) + ": states kept");
        return {};
    }
    log(name + " for sensors " + idText(ids));
    for (const std::uint32_t id : ids) {
        _state.sensor(id).state = states.front();
        std::deque<LogicStep> steps;
        for (std::size_t k = 1; k < states.size(); ++k) {
            steps.push_back({now + static_cast<int>(k) * _config.stepInterval, states[k]});
        }
        if (steps.empty()) {
            _logic.erase(id);
        } else {
            _logic[id] = std::move(steps);
        }
    }
    return reportStates(ids);
}

std::string ChassisSequences::interrupt(const LogicInterruptMessage& request) {
    const std::vector<std::uint32_t> ids = cards(request.sensor_list(), "LOGIC_INTERRUPT_REQ");
    log("logic interrupt " + std::to_string(request.type()) + " for sensors " + idText(ids));
    for (const std::uint32_t id : ids) {
        _logic.erase(id);
        _state.sensor(id).state = SensorState::IDLE;
    }
    return reportStates(ids);
}

std::string ChassisSequences::startUpdate(const std::string& uri, Clock::time_point now) {
    const std::string shown =
        uri.size() > MAX_URI_SHOWN ? uri.substr(0, MAX_URI_SHOWN) + "..." : uri;
    log("update from " + shown + " started");
    const auto at = [&](int step) { return now + step * _config.stepInterval; };
    _update = {
        {at(1), 25, "Downloading " + shown},
        {at(2), 50, "Flashing chassis"},
        {at(3), 75, "Flashing sensor cards"},
        {at(4), 100, "Update installed, waiting for commit"},
        {at(5), 0, {}},
    };
    _state.setSystemStatus(StatusPacket::FLASHING);
    return statusFrames({_messages.progress(_state, 0, "Downloading " + shown)});
}

std::string ChassisSequences::commitUpdate() {
    if (_state.systemStatus() != StatusPacket::PENDING_COMMIT) {
        note("UPDATE_COMMIT ignored: no update waits for a commit");
        return {};
    }
    _state.setSystemStatus(StatusPacket::RUNNING);
    _state.setVersion(ChassisState::UPDATED_VERSION);
    log("update committed, version " + _state.version());
    return statusFrames({_messages.status(_state)});
}

std::string ChassisSequences::advance(Clock::time_point now) {
    std::string frames;
    for (;;) {
        std::vector<std::uint32_t> moved;
        for (auto it = _logic.begin(); it != _logic.end();) {
            std::deque<LogicStep>& steps = it->second;
            if (steps.front().due <= now) {
                _state.sensor(it->first).state = steps.front().state;
                moved.push_back(it->first);
                steps.pop_front();
            }
            it = steps.empty() ? _logic.erase(it) : std::next(it);
        }
        if (moved.empty()) {
            break;
        }
        frames += reportStates(moved);
    }
    while (!_update.empty() && _update.front().due <= now) {
        const UpdateStep step = std::move(_update.front());
        _update.pop_front();
        if (step.text.empty()) {
            _state.setSystemStatus(StatusPacket::PENDING_COMMIT);
            log("update waits for a commit");
            frames += statusFrames({_messages.status(_state)});
        } else {
            frames += statusFrames({_messages.progress(_state, step.progress, step.text)});
        }
    }
    return frames;
}

std::optional<ChassisSequences::Clock::time_point> ChassisSequences::nextDue() const {
    std::optional<Clock::time_point> next;
    for (const auto& [id, steps] : _logic) {
        if (!next || steps.front().due < *next) {
            next = steps.front().due;
        }
    }
    if (!_update.empty() && (!next || _update.front().due < *next)) {
        next = _update.front().due;
    }
    return next;
}

}  // namespace chassis_sim
