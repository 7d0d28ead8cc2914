#include "command_line.h"

#include <stdexcept>

namespace {

constexpr std::int32_t DEFAULT_LINE_FREQ = 60;

bool isSupportedLineFreq(std::int32_t freq) {
    return freq == 50 || freq == 60;
}

}  // namespace

std::vector<std::string> usageErrors(const std::vector<std::string>& args) {
    if (args.size() > 1) {
        return {};
    }
    return {"Need at least one IP", "Pass -l <50/60> to set line frequency (defaults to 60)"};
}

CommandLine scanArguments(const std::vector<std::string>& args) {
    CommandLine result;
    bool freqExpected = false;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-l") {
            freqExpected = true;
            continue;
        }
        if (!freqExpected) {
            result.addresses.push_back(arg);
            continue;
        }
        freqExpected = false;
        // std::stoi gives the accepted forms: leading white space, a sign, and digits up to the
        // first other character ("50Hz" is 50). A value it rejects leaves the frequency as it was
        // and is not an address either.
        try {
            result.lineFreq = std::stoi(arg);
            if (!isSupportedLineFreq(result.lineFreq)) {
                result.errors.emplace_back("Invalid line frequency, setting to 60Hz");
                result.lineFreq = DEFAULT_LINE_FREQ;
            }
        } catch (const std::invalid_argument&) {
            result.errors.emplace_back("std::invalid_argument::what(): stoi");
        } catch (const std::out_of_range&) {
            result.errors.emplace_back("std::out_of_range::what(): stoi");
        }
    }
    return result;
}
