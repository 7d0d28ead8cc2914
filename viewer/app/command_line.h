#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line of live_stream asks for.
struct CommandLine {
    std::vector<std::string> addresses;  // chassis addresses, in command-line order
    std::int32_t lineFreq = 60;          // mains frequency in Hz: 50 or 60
    std::vector<std::string> errors;     // lines for standard error, in the order they arose
};

// Exit status when there is nothing to connect to (255 as the shell sees it).
constexpr int USAGE_EXIT_STATUS = -1;

// The usage lines for standard error when `args` (program name first) holds no argument besides
// the program name; empty otherwise. Only the count matters: "-l 50" alone passes.
std::vector<std::string> usageErrors(const std::vector<std::string>& args);

// Scans `args` (program name first) once, left to right: "-l" makes the next argument the mains
// frequency, every other argument is a chassis address. Runs before the Qt application exists,
// so options Qt would understand end up as addresses too.
CommandLine scanArguments(const std::vector<std::string>& args);
