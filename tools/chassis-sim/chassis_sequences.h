#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "chassis_state.h"
#include "net-protocol.pb.h"

namespace chassis_sim {

class ChassisMessages;

// The timed side of a chassis: logic sequences that move cards through states, and the
// software update. A command applies its first step at once and returns the status frames
// that report it; the later steps follow one step interval apart, applied by advance() on
// the chassis' timer. Each card runs at most one sequence, and the chassis one update; a new
// one replaces what was pending. Not thread-safe: the chassis server calls it under its lock,
// which guards the state too.
class ChassisSequences {
public:
    using Clock = std::chrono::steady_clock;

    ChassisSequences(const SimConfig& config, const std::string& address,
                     const ChassisMessages& messages, ChassisState& state);

    // LOGIC_REQ: RESTART, COARSE_ZERO and FINE_ZERO go through the state, its COMPLETE state
    // and READY; OFF and IDLE go to that state; STASIS_ON/OFF keep the state.
    std::string startLogic(const LogicMessage& request, Clock::time_point now);
    // LOGIC_INTERRUPT_REQ: the listed cards drop what was pending and become IDLE.
    std::string interrupt(const LogicInterruptMessage& request);
    // UPDATE: FLASHING with PROGRESS reports up to 100, then PENDING_COMMIT.
    std::string startUpdate(const std::string& uri, Clock::time_point now);
    // UPDATE_COMMIT: from PENDING_COMMIT to RUNNING with the updated version; otherwise
    // nothing changes and nothing is sent.
    std::string commitUpdate();

    // Applies every step due at `now`, each card's in order; returns the frames reporting
    // them. Cards that move in the same round share a message.
    std::string advance(Clock::time_point now);
    // When the next step is due; empty when nothing is pending.
    std::optional<Clock::time_point> nextDue() const;

private:
    struct LogicStep {
        Clock::time_point due;
        SensorState::EnumStateType state;
    };
    struct UpdateStep {
        Clock::time_point due;
        std::uint32_t progress = 0;
        std::string text;  // empty: the step that leaves the update waiting for a commit
    };

    // The cards among `ids`, each once, in the order given; the others are noted.
    std::vector<std::uint32_t> cards(const google::protobuf::RepeatedField<std::uint32_t>& ids,
                                     const char* command) const;
    std::string reportStates(const std::vector<std::uint32_t>& ids) const;
    void note(const std::string& line) const;
    void log(const std::string& line) const;

    const SimConfig& _config;
    std::string _address;
    const ChassisMessages& _messages;
    ChassisState& _state;
    std::map<std::uint32_t, std::deque<LogicStep>> _logic;  // pending steps per card
    std::deque<UpdateStep> _update;
};

}  // namespace chassis_sim
