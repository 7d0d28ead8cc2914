#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace chassis_sim {

class ChassisSimulator;
class ShutdownSignal;

// Applies one console command line to the simulator ("pause", "oversized 3000 127.0.0.2",
// ...): silence, speak, pause, resume, close, malformed, oversized N, error SENSOR FLAGS and
// progress N TEXT, each with an optional chassis address at the end (default: every chassis).
// Returns the line to show and sets `ok` to whether the command was understood and carried
// out.
std::string applyConsoleCommand(ChassisSimulator& simulator, std::string_view line, bool& ok);

// The foreground loop of the chassis-sim program: waits for a shutdown signal or the end of
// the run time, and meanwhile applies fault-switch commands typed on an input descriptor, one
// per line. End of input only stops reading commands.
class SimConsole {
public:
    SimConsole(ChassisSimulator& simulator, ShutdownSignal& shutdown,
               std::optional<std::chrono::milliseconds> duration, int inputFd);

    // Returns the signal that ended the run, or 0 when the run time was up.
    int run();

private:
    void readInput();

    ChassisSimulator& _simulator;
    ShutdownSignal& _shutdown;
    std::optional<std::chrono::milliseconds> _duration;
    int _inputFd;
    std::string _pending;      // input after the last complete line
    bool _discarding = false;  // inside a line too long to be a command
};

}  // namespace chassis_sim
