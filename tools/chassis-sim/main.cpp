// chassis-sim: plays sensor chassis on loopback addresses for demos and hand tests.
#include <unistd.h>

#include <string>
#include <vector>

#include "chassis_simulator.h"
#include "log_line.h"
#include "shutdown_signal.h"
#include "sim_console.h"
#include "sim_options.h"

int main(int argc, char** argv) {
    using namespace chassis_sim;
    SimOptions options;
    std::string error;
    if (!parseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        errLine("chassis-sim: " + error + " (see --help)");
        return 2;
    }
    if (options.help) {
        outLine(simUsage());
        return 0;
    }

    ShutdownSignal shutdown;  // before any thread exists, so every thread inherits the mask
    if (shutdown.fd() < 0) {
        errLine("chassis-sim: cannot watch for SIGINT/SIGTERM");
        return 1;
    }
    ChassisSimulator simulator(options.config);
    if (!simulator.start(&error)) {
        errLine("chassis-sim: " + error);
        return 1;
    }
    std::string serving;
    for (const std::string& address : options.config.addresses) {
        serving += " " + address + ":" + std::to_string(options.config.port);
    }
    outLine("chassis-sim: serving" + serving);
    // Timestamp t is due at this wall-clock millisecond plus t (less the chassis' offset).
    outLine("chassis-sim: clock epoch " + std::to_string(simulator.epochUnixMs()));

    SimConsole console(simulator, shutdown, options.duration, STDIN_FILENO);
    const int signal = console.run();
    outLine(signal != 0 ? "chassis-sim: signal " + std::to_string(signal) + ", stopping"
                        : "chassis-sim: run time over, stopping");
    simulator.stop();
    return 0;
}
