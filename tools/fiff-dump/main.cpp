// fiff-dump FILE [--data OUT]: what a raw recording holds, read the way playback reads it.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "fiff_dump.h"

int main(int argc, char** argv) {
    // The reader writes some diagnostics to standard output itself. Standard output is for the
    // result lines only, so the process's descriptor 1 goes to standard error while the tool
    // runs and the results are written to the original standard output at the end.
    const int resultFd = dup(STDOUT_FILENO);
    if (resultFd < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::cerr << "fiff-dump: cannot set up standard output" << std::endl;
        return 1;
    }
    std::ostringstream results;
    const int status =
        fiff_dump::runFiffDump(std::vector<std::string>(argv + 1, argv + argc), results, std::cerr);
    std::cout.flush();
    std::fflush(stdout);

    const std::string text = results.str();
    FILE* out = fdopen(resultFd, "w");
    if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
        std::fclose(out) != 0) {
        std::cerr << "fiff-dump: cannot write to standard output" << std::endl;
        return 1;
    }
    return status;
}
