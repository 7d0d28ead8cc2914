#pragma once
// fiff-dump: opens a raw recording the way playback does and reports what it holds; on
// request writes the calibrated data of the picked channels.
#include <ostream>
#include <string>
#include <vector>

namespace fiff_dump {

// The one-line usage text.
std::string usage();

// Runs the tool on its arguments (program name excluded). Result lines go to out; the
// reader's Qt message log and every complaint go to err. Returns the exit status: 0 done,
// 1 the recording could not be read or the data could not be written, 2 bad usage.
int runFiffDump(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace fiff_dump
