#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

const std::string BAD_FREQ = "Invalid line frequency, setting to 60Hz";
const std::string NOT_A_NUMBER = "std::invalid_argument::what(): stoi";
const std::string OUT_OF_RANGE = "std::out_of_range::what(): stoi";

struct ScanCase {
    const char* name;
    std::vector<std::string> arguments;  // after the program name
    std::vector<std::string> addresses;
    std::int32_t lineFreq;
    std::vector<std::string> errors;
};

std::vector<std::string> withProgramName(const std::vector<std::string>& arguments) {
    std::vector<std::string> args{"live_stream"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return args;
}

}  // namespace

TEST(ScanArgumentsTest, AddressesFrequencyAndErrors) {
    const std::vector<ScanCase> cases = {
        {"address then frequency", {"127.0.5.5", "-l", "50"}, {"127.0.5.5"}, 50, {}},
        {"frequency then address", {"-l", "50", "127.0.5.5"}, {"127.0.5.5"}, 50, {}},
        {"sixty", {"127.0.5.5", "-l", "60"}, {"127.0.5.5"}, 60, {}},
        {"no frequency option", {"127.0.5.5", "127.0.5.6"}, {"127.0.5.5", "127.0.5.6"}, 60, {}},
        {"unsupported frequency", {"127.0.5.5", "-l", "55"}, {"127.0.5.5"}, 60, {BAD_FREQ}},
        {"not a number is no address",
         {"127.0.5.5", "-l", "abc"},
         {"127.0.5.5"},
         60,
         {NOT_A_NUMBER}},
        {"out of range", {"127.0.5.5", "-l", "99999999999"}, {"127.0.5.5"}, 60, {OUT_OF_RANGE}},
        {"digits before text", {"127.0.5.5", "-l", "50Hz"}, {"127.0.5.5"}, 50, {}},
        {"bad value keeps earlier 50",
         {"127.0.5.5", "-l", "50", "-l", "abc"},
         {"127.0.5.5"},
         50,
         {NOT_A_NUMBER}},
        {"unsupported value resets earlier 50", {"-l", "50", "-l", "55"}, {}, 60, {BAD_FREQ}},
        {"trailing -l", {"127.0.5.5", "-l"}, {"127.0.5.5"}, 60, {}},
        {"repeated -l", {"-l", "-l", "50", "127.0.5.5"}, {"127.0.5.5"}, 50, {}},
        {"frequency only", {"-l", "50"}, {}, 50, {}},
        {"white space and sign", {"-l", " \t+50", "127.0.5.5"}, {"127.0.5.5"}, 50, {}},
        {"negative", {"-l", "-50"}, {}, 60, {BAD_FREQ}},
        {"hexadecimal reads the leading zero", {"-l", "0x32"}, {}, 60, {BAD_FREQ}},
        {"empty value", {"-l", ""}, {}, 60, {NOT_A_NUMBER}},
        {"sign alone", {"-l", "+"}, {}, 60, {NOT_A_NUMBER}},
        {"just above int32", {"-l", "2147483648"}, {}, 60, {OUT_OF_RANGE}},
        {"just below int32", {"-l", "-2147483649"}, {}, 60, {OUT_OF_RANGE}},
        {"int32 minimum is in range", {"-l", "-2147483648"}, {}, 60, {BAD_FREQ}},
        {"Qt options are addresses, order kept",
         {"127.0.5.7", "-platform", "offscreen", "127.0.5.5"},
         {"127.0.5.7", "-platform", "offscreen", "127.0.5.5"},
         60,
         {}},
        {"messages in order",
         {"-l", "abc", "127.0.5.5", "-l", "55", "-l", "99999999999"},
         {"127.0.5.5"},
         60,
         {NOT_A_NUMBER, BAD_FREQ, OUT_OF_RANGE}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandLine result = scanArguments(withProgramName(c.arguments));
        EXPECT_EQ(result.addresses, c.addresses);
        EXPECT_EQ(result.lineFreq, c.lineFreq);
        EXPECT_EQ(result.errors, c.errors);
    }
}

TEST(ScanArgumentsTest, ProgramNameIsNeverAnAddress) {
    EXPECT_TRUE(scanArguments({"127.0.5.5"}).addresses.empty());
    EXPECT_TRUE(scanArguments({}).addresses.empty());
}

TEST(UsageTest, OnlyAnEmptyCommandLineIsRefused) {
    const std::vector<std::string> usage = {
        "Need at least one IP", "Pass -l <50/60> to set line frequency (defaults to 60)"};
    EXPECT_EQ(usageErrors({"live_stream"}), usage);
    EXPECT_EQ(usageErrors({}), usage);
    EXPECT_TRUE(usageErrors(withProgramName({"-l", "50"})).empty());
    EXPECT_TRUE(usageErrors(withProgramName({"127.0.5.5"})).empty());
}
