#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "chassis_simulator.h"

namespace chassis_sim {

// What the chassis-sim command line asks for.
struct SimOptions {
    SimConfig config;
    // Run this long, then stop; unset runs until SIGINT or SIGTERM.
    std::optional<std::chrono::milliseconds> duration;
    bool help = false;
};

// Parses the arguments after the program name and checks the resulting configuration as
// start() would. On bad input returns false and says why in `error`.
bool parseSimOptions(const std::vector<std::string>& args, SimOptions& options, std::string& error);

// The --help text.
std::string simUsage();

}  // namespace chassis_sim
