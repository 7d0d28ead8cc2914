// The chassis-sim program: its options, its console commands, and the real binary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <thread>

#include "chassis_simulator.h"
#include "frame_codec.h"
#include "sim_console.h"
#include "sim_options.h"
#include "tls_test_client.h"

extern char** environ;

using namespace std::chrono_literals;
using chassis_sim::SimOptions;
using sim_test::ReceivedFrame;

namespace {

// The program under test, started with pipes for its standard input and error.
class Program {
public:
    // With `captureOutput`, standard output is kept for outputLine() instead of shown.
    explicit Program(const std::vector<std::string>& args, bool captureOutput = false) {
        int input[2];
        int errors[2];
        int output[2] = {-1, -1};
        if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0 ||
            (captureOutput && ::pipe2(output, O_CLOEXEC) != 0)) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, errors[1], STDERR_FILENO);
        if (captureOutput) {
            posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        }
        std::vector<std::string> argv = {CHASSIS_SIM_PROGRAM};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> pointers;
        for (std::string& arg : argv) {
            pointers.push_back(arg.data());
        }
        pointers.push_back(nullptr);
        if (posix_spawn(&_pid, CHASSIS_SIM_PROGRAM, &actions, nullptr, pointers.data(), environ) !=
            0) {
            _pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(input[0]);
        ::close(errors[1]);
        if (captureOutput) {
            ::close(output[1]);
        }
        _input = input[1];
        _errors = errors[0];
        _output = output[0];
    }

    ~Program() {
        if (_pid > 0 && !_status) {
            ::kill(_pid, SIGKILL);
            ::waitpid(_pid, nullptr, 0);
        }
        ::close(_input);
        ::close(_errors);
        if (_output >= 0) {
            ::close(_output);
        }
    }

    bool started() const { return _pid > 0; }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(_input, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    void signal(int number) { ::kill(_pid, number); }

    // The exit code once the program ended by itself within `timeout`.
    std::optional<int> exitCode(std::chrono::milliseconds timeout) {
        sim_test::eventually(
            [&] {
                int status = 0;
                if (::waitpid(_pid, &status, WNOHANG) == _pid) {
                    _status = status;
                }
                return _status.has_value();
            },
            timeout);
        if (!_status || !WIFEXITED(*_status)) {
            return std::nullopt;
        }
        return WEXITSTATUS(*_status);
    }

    // Standard error, after the program ended.
    std::string errors() {
        std::string text;
        char chunk[512];
        for (ssize_t n; (n = ::read(_errors, chunk, sizeof chunk)) > 0;) {
            text.append(chunk, static_cast<std::size_t>(n));
        }
        return text;
    }

    // The next line of captured standard output, waiting at most `timeout`; empty at its end.
    std::optional<std::string> outputLine(std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (const std::size_t end = _outputText.find('\n'); end != std::string::npos) {
                std::string line = _outputText.substr(0, end);
                _outputText.erase(0, end + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd readable{_output, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
                return std::nullopt;
            }
            char chunk[512];
            const ssize_t n = ::read(_output, chunk, sizeof chunk);
            if (n <= 0) {
                return std::nullopt;
            }
            _outputText.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    pid_t _pid = -1;
    int _input = -1;
    int _errors = -1;
    int _output = -1;
    std::string _outputText;  // read, not yet returned as lines
    std::optional<int> _status;
};

bool dataArrivesWithin(sim_test::TlsTestClient& client, std::chrono::milliseconds window) {
    return client
        .waitFor([](const ReceivedFrame& f) { return sim_test::asDataPacket(f).has_value(); },
                 window)
        .has_value();
}

}  // namespace

TEST(SimProgram, OptionsBuildTheConfiguration) {
    SimOptions options;
    std::string error;
    ASSERT_TRUE(chassis_sim::parseSimOptions(
        {"--chassis", "3", "--port=7000", "--slots", "8", "--sensors", "4", "--types", "28,50,7",
         "--mains", "50", "--mode", "deterministic", "--duration", "1.5", "--step-ms", "5",
         "--quiet"},
        options, error))
        << error;
    const chassis_sim::SimConfig& config = options.config;
    EXPECT_EQ(config.addresses, (std::vector<std::string>{"127.0.0.1", "127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(config.port, 7000);
    EXPECT_EQ(config.slots, 8u);
    EXPECT_EQ(config.sensors, 4u);
    EXPECT_EQ(config.dataTypes, (std::vector<std::uint32_t>{28, 50, 7}));
    EXPECT_EQ(config.mainsHz, 50);
    EXPECT_EQ(config.mode, chassis_sim::SignalMode::Deterministic);
    EXPECT_EQ(options.duration, std::chrono::milliseconds(1500));
    EXPECT_EQ(config.stepInterval, std::chrono::milliseconds(5));
    EXPECT_FALSE(config.log);
    EXPECT_TRUE(config.timestampOffsets.empty());
    EXPECT_EQ(config.devPassword, "dev");

    SimOptions shifted;
    ASSERT_TRUE(chassis_sim::parseSimOptions(
        {"--chassis", "3", "--timestamp-offset", "127.0.0.2=3", "--timestamp-offset=127.0.0.1=7",
         "--dev-password", "open sesame"},
        shifted, error))
        << error;
    EXPECT_EQ(shifted.config.timestampOffsets, (std::vector<std::uint32_t>{7, 3}));
    EXPECT_EQ(shifted.config.devPassword, "open sesame");

    SimOptions defaults;
    ASSERT_TRUE(chassis_sim::parseSimOptions({"--address", "127.0.0.9", "--address", "127.0.0.8"},
                                             defaults, error));
    EXPECT_EQ(defaults.config.addresses, (std::vector<std::string>{"127.0.0.9", "127.0.0.8"}));
    EXPECT_EQ(defaults.config.port, 7777);
    EXPECT_FALSE(defaults.duration);
    EXPECT_TRUE(defaults.config.log);
    EXPECT_EQ(defaults.config.stepInterval, std::chrono::milliseconds(200));

    SimOptions immediate;
    ASSERT_TRUE(chassis_sim::parseSimOptions({"--step-ms=0"}, immediate, error));
    EXPECT_EQ(immediate.config.stepInterval, std::chrono::milliseconds(0));
}

TEST(SimProgram, BadOptionsAreRefusedWithAReason) {
    const std::vector<std::vector<std::string>> cases = {
        {"--sensors", "17"},  // default 16 slots
        {"--types", ""},
        {"--types", "28,,50"},
        {"--types", "28,-1"},
        {"--mains", "55"},
        {"--mode", "noisy"},
        {"--chassis", "0"},
        {"--chassis", "2", "--address", "127.0.0.5"},
        {"--port", "70000"},
        {"--port", "12abc"},
        {"--slots"},
        {"--duration", "0"},
        {"--duration", "nan"},
        {"--address", "192.168.1.10"},
        {"--quiet=yes"},
        {"--verbose"},
        {"--timestamp-offset", "127.0.0.2=3"},  // only 127.0.0.1 is served
        {"--timestamp-offset", "127.0.0.1"},
        {"--timestamp-offset", "=3"},
        {"--timestamp-offset", "127.0.0.1=-1"},
        {"--timestamp-offset", "127.0.0.1=4294967296"},
        {"--dev-password"},
        {"--step-ms", "-1"},
        {"--step-ms", "60001"},
        {"--step-ms", "0.5"},
        {"--step-ms"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        SimOptions options;
        std::string error;
        EXPECT_FALSE(chassis_sim::parseSimOptions(args, options, error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(SimProgram, ConsoleCommands) {
    chassis_sim::ChassisSimulator sim(chassis_sim::SimConfig{});  // not started: no effect
    const std::vector<std::pair<std::string, bool>> cases = {
        {"silence", true},
        {"speak 127.0.0.1", true},
        {"pause", true},
        {"resume", true},
        {"close", true},
        {"malformed", true},
        {"  oversized 3000 ", true},
        {"oversized 65535 127.0.0.2", true},
        {"oversized", false},
        {"oversized 65536", false},
        {"oversized -1", false},
        {"oversized x", false},
        {"pause a b", false},
        {"reboot", false},
        {"", false},
    };
    for (const auto& [line, valid] : cases) {
        SCOPED_TRACE(line);
        bool ok = !valid;
        const std::string reply = chassis_sim::applyConsoleCommand(sim, line, ok);
        EXPECT_EQ(ok, valid);
        EXPECT_FALSE(reply.empty());
    }
}

// The status commands act on a running simulator; the reply tells what was sent.
TEST(SimProgram, ConsoleStatusCommands) {
    chassis_sim::SimConfig config;
    config.addresses = {"127.0.47.3"};
    config.sensors = 2;
    config.log = false;
    chassis_sim::ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    sim_test::TlsTestClient client;
    ASSERT_TRUE(client.connect("127.0.47.3"));

    struct Case {
        const char* line;
        bool valid;
        std::optional<std::pair<std::uint32_t, std::string>> progress;  // what arrives
        std::optional<std::pair<std::uint32_t, std::uint32_t>> error;   // sensor, flags
    };
    const std::vector<Case> cases = {
        {"error 2 5", true, std::nullopt, std::pair(2u, 5u)},
        {"error 1 0x80000000 127.0.47.3", true, std::nullopt, std::pair(1u, 0x80000000u)},
        {"error 2 0", true, std::nullopt, std::pair(2u, 0u)},
        {"progress 40 flashing  sensor cards", true, std::pair(40u, "flashing sensor cards"),
         std::nullopt},
        {"progress 100 done 127.0.47.3", true, std::pair(100u, "done"), std::nullopt},
        {"error 3 1", false, std::nullopt, std::nullopt},  // no such card
        {"error 1 1 127.0.47.9", false, std::nullopt, std::nullopt},
        {"error 1", false, std::nullopt, std::nullopt},
        {"error 1 0xZZ", false, std::nullopt, std::nullopt},
        {"error -1 1", false, std::nullopt, std::nullopt},
        {"progress 101 too far", false, std::nullopt, std::nullopt},
        {"progress 50", false, std::nullopt, std::nullopt},
        {"progress 50 127.0.47.3", false, std::nullopt, std::nullopt},  // no text
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.line);
        bool ok = !test.valid;
        const std::string reply = chassis_sim::applyConsoleCommand(sim, test.line, ok);
        EXPECT_EQ(ok, test.valid) << reply;
        if (!test.valid) {
            continue;
        }
        const auto frame =
            client.waitFor([](const ReceivedFrame& f) { return f.type == STATUS_PACKET; }, 5s);
        ASSERT_TRUE(frame);
        const auto status = sim_test::asStatusPacket(*frame);
        ASSERT_TRUE(status);
        if (test.progress) {
            EXPECT_EQ(status->type(), StatusPacket::PROGRESS);
            EXPECT_EQ(status->progress(), test.progress->first);
            EXPECT_EQ(status->progress_msg(), test.progress->second);
        } else {
            EXPECT_EQ(status->type(), StatusPacket::SENSOR_STATE);
            ASSERT_EQ(status->sensor_state_size(), 1);
            EXPECT_EQ(status->sensor_state(0).sensor_id(), test.error->first);
            EXPECT_EQ(status->sensor_state(0).error_flags(), test.error->second);
        }
    }
}

TEST(SimProgram, RefusesBadOptionsWithExitStatusTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--sensors", "20"}, {"--address", "10.0.0.1"}, {"--bogus"}};
    for (const auto& args : cases) {
        SCOPED_TRACE(testing::PrintToString(args));
        Program program(args);
        ASSERT_TRUE(program.started());
        EXPECT_EQ(program.exitCode(5s), 2);
        EXPECT_NE(program.errors().find("chassis-sim: "), std::string::npos);
    }
}

// The real program on its own address: stdin commands act on the stream, SIGTERM ends it
// cleanly, and --duration ends it by itself.
TEST(SimProgram, RunsTakesCommandsAndStopsOnSignal) {
    Program program({"--address", "127.0.43.1", "--mode", "deterministic", "--sensors", "2",
                     "--types", "28", "--quiet"});
    ASSERT_TRUE(program.started());
    sim_test::TlsTestClient client;
    ASSERT_TRUE(sim_test::eventually([&] { return client.connect("127.0.43.1"); }));
    ASSERT_TRUE(dataArrivesWithin(client, 2s));

    program.send("pause");
    // Once the pause took effect, a quiet window follows.
    EXPECT_TRUE(sim_test::eventually([&] { return !dataArrivesWithin(client, 200ms); }));
    program.send("resume");
    EXPECT_TRUE(dataArrivesWithin(client, 2s));
    program.send("oversized 3000");
    EXPECT_TRUE(
        client.waitFor([](const ReceivedFrame& f) { return f.payload.size() == 3000; }, 2s));
    program.send("nonsense");  // reported, not fatal
    // Lines are handled in order: once this status arrives, the line above was handled too.
    program.send("progress 50 half way");
    EXPECT_TRUE(client.waitFor(
        [](const ReceivedFrame& f) {
            const auto status = sim_test::asStatusPacket(f);
            return status && status->progress_msg() == "half way";
        },
        2s));
    EXPECT_TRUE(dataArrivesWithin(client, 2s));

    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(5s), 0);
    EXPECT_NE(program.errors().find("unknown command"), std::string::npos);

    Program timed({"--address", "127.0.43.2", "--duration", "0.2", "--quiet"});
    ASSERT_TRUE(timed.started());
    EXPECT_EQ(timed.exitCode(5s), 0);
}

// The program announces its clock epoch in Unix milliseconds, right after the serving line,
// so another process can tell the age of a sample: it lies between the launch and the line.
TEST(SimProgram, AnnouncesTheClockEpochAfterServing) {
    const auto unixMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    const std::int64_t launched = unixMs();
    Program program({"--address", "127.0.48.20", "--sensors", "1", "--types", "28", "--quiet"},
                    true);
    ASSERT_TRUE(program.started());
    const auto serving = program.outputLine(5s);
    ASSERT_TRUE(serving);
    EXPECT_EQ(*serving, "chassis-sim: serving 127.0.48.20:7777");
    const auto epochLine = program.outputLine(5s);
    const std::int64_t seen = unixMs();
    ASSERT_TRUE(epochLine);
    const std::string prefix = "chassis-sim: clock epoch ";
    ASSERT_TRUE(epochLine->starts_with(prefix)) << *epochLine;
    const std::string digits = epochLine->substr(prefix.size());
    std::int64_t epoch = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), epoch);
    ASSERT_TRUE(ec == std::errc() && end == digits.data() + digits.size()) << digits;
    EXPECT_GE(epoch, launched - 1);
    EXPECT_LE(epoch, seen + 1);
    program.signal(SIGTERM);
    EXPECT_EQ(program.exitCode(5s), 0);
}
