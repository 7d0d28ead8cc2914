#pragma once

#include <string>

#include "chassis_simulator.h"

namespace chassis_sim {

// True for dotted-decimal IPv4 text (exactly what inet_pton accepts) in 127.0.0.0/8.
bool isLoopbackAddress(const std::string& address);

// Empty when the configuration can be served; otherwise why not. Addresses are checked here,
// before anything is bound, so a refused address never gets a socket.
std::string checkConfig(const SimConfig& config);

}  // namespace chassis_sim
