#include "sim_clock.h"

namespace chassis_sim {

namespace {

// The wall-clock time of a steady-clock instant: the system clock now less the steady time
// elapsed since the instant, both read here back to back.
std::int64_t unixMillisecondsOf(SimClock::Clock::time_point instant) {
    const auto steadyNow = SimClock::Clock::now();
    const auto systemNow = std::chrono::system_clock::now();
    const auto wall = systemNow - (steadyNow - instant);
    return std::chrono::round<std::chrono::milliseconds>(wall.time_since_epoch()).count();
}

}  // namespace

SimClock::SimClock() {
    restart();
}

void SimClock::restart() {
    const auto epoch = Clock::now();
    _epochNanos.store(epoch.time_since_epoch().count());
    _epochUnixMs.store(unixMillisecondsOf(epoch));
}

SimClock::Clock::time_point SimClock::epoch() const {
    return Clock::time_point(Clock::duration(_epochNanos.load()));
}

std::uint64_t SimClock::tickAt(Clock::time_point when) const {
    const auto start = epoch();
    if (when <= start) {
        return 0;
    }
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(when - start).count());
}

SimClock::Clock::time_point SimClock::dueTime(std::uint64_t tick) const {
    return epoch() + std::chrono::milliseconds(tick);
}

std::uint32_t SimClock::currentTimestamp() const {
    // The wire field is 32 bits; it wraps after about 49 days.
    return static_cast<std::uint32_t>(tickAt(Clock::now()));
}

}  // namespace chassis_sim
