#include "log_line.h"

#include <cstdio>
#include <string>

namespace {

void writeLine(std::FILE* stream, std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');
    // stdio locks the stream for the duration of one call.
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

void outLine(std::string_view line) {
    writeLine(stdout, line);
}

void errLine(std::string_view line) {
    writeLine(stderr, line);
}
