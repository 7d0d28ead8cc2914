#pragma once

#include <string_view>

// Diagnostic lines. Each call writes the whole line and its line end in one write and flushes
// it, so lines from different threads never interleave mid-line.
void outLine(std::string_view line);  // standard output
void errLine(std::string_view line);  // standard error
