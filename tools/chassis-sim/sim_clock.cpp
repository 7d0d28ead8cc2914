#include "sim_clock.h"

namespace chassis_sim {

SimClock::SimClock() : _epochNanos(Clock::now().time_since_epoch().count()) {}

void SimClock::restart() {
    _epochNanos.store(Clock::now().time_since_epoch().count());
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
